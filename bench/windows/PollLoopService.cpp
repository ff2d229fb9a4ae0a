// Reference service: the same hidden window and the same 1 ms Sleep + PeekMessageW loop as the
// service's worker, and nothing else (no poll timer, no guard). Its idle cost is the floor that
// the mandated 1 ms polling sets.
#include "bench/windows/ReferenceService.h"

namespace {

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

void PollLoop(volatile LONG* running) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));      // IDI_APPLICATION
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = L"MainWndClass";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, L"MainWndClass", L"PollLoopService", WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                                nullptr, instance, nullptr);
  ShowWindow(window, SW_HIDE);
  MSG message{};
  while (*running != 0) {
    Sleep(1);
    while (PeekMessageW(&message, window, 0, 0, PM_REMOVE)) {
      if (*running == 0) break;
      Sleep(1);
    }
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*prev*/, PWSTR /*commandLine*/,
                    int /*show*/) {
  return bench::RunReferenceService(L"PollLoopService", PollLoop);
}
