// Windowing on real Windows.
#include "platform/win32/Win32Windowing.h"

#include <atomic>

#include "platform/win32/WindowsSupport.h"

namespace platform::win32 {

namespace {

std::atomic<WindowProc> windowProc{nullptr};

LRESULT CALLBACK WindowProcTrampoline(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowProc proc = windowProc.load();
  if (proc == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
  return proc(reinterpret_cast<Handle>(window), message, wParam, lParam);
}

template <typename T>
T As(Handle h) {
  return reinterpret_cast<T>(h);
}

}  // namespace

std::uint16_t Win32Windowing::RegisterClassW(const WndClass* wc) {
  if (wc == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  windowProc.store(wc->lpfnWndProc);
  WNDCLASSW c{};
  c.style = wc->style;
  c.lpfnWndProc = WindowProcTrampoline;
  c.cbClsExtra = wc->cbClsExtra;
  c.cbWndExtra = wc->cbWndExtra;
  c.hInstance = As<HINSTANCE>(wc->hInstance);
  c.hIcon = As<HICON>(wc->hIcon);
  c.hCursor = As<HCURSOR>(wc->hCursor);
  c.hbrBackground = As<HBRUSH>(wc->hbrBackground);
  c.lpszMenuName = W(wc->lpszMenuName);
  c.lpszClassName = W(wc->lpszClassName);
  return ::RegisterClassW(&c);
}

Handle Win32Windowing::CreateWindowExW(std::uint32_t exStyle, const char16_t* className,
                                       const char16_t* windowName, std::uint32_t style,
                                       std::int32_t x, std::int32_t y, std::int32_t width,
                                       std::int32_t height, Handle parent, Handle menu,
                                       Handle instance, void* param) {
  HWND h = ::CreateWindowExW(exStyle, W(className), W(windowName), style, x, y, width, height,
                             As<HWND>(parent), As<HMENU>(menu), As<HINSTANCE>(instance), param);
  return reinterpret_cast<Handle>(h);
}

Bool Win32Windowing::ShowWindow(Handle window, std::int32_t command) {
  return ::ShowWindow(As<HWND>(window), command);
}

Bool Win32Windowing::PeekMessageW(Msg* message, Handle window, std::uint32_t filterMin,
                                  std::uint32_t filterMax, std::uint32_t removeFlags) {
  MSG m{};
  BOOL got = ::PeekMessageW(&m, As<HWND>(window), filterMin, filterMax, removeFlags);
  if (got != FALSE && message != nullptr) {
    message->hwnd = reinterpret_cast<Handle>(m.hwnd);
    message->message = m.message;
    message->wParam = m.wParam;
    message->lParam = m.lParam;
    message->time = m.time;
    message->ptX = m.pt.x;
    message->ptY = m.pt.y;
  }
  return got;
}

std::intptr_t Win32Windowing::DefWindowProcW(Handle window, std::uint32_t message,
                                             std::uintptr_t wParam, std::intptr_t lParam) {
  return ::DefWindowProcW(As<HWND>(window), message, wParam, lParam);
}

Handle Win32Windowing::LoadIconW(Handle instance, std::uintptr_t resourceId) {
  return reinterpret_cast<Handle>(
      ::LoadIconW(As<HINSTANCE>(instance), MAKEINTRESOURCEW(resourceId)));
}

Handle Win32Windowing::LoadCursorW(Handle instance, std::uintptr_t resourceId) {
  return reinterpret_cast<Handle>(
      ::LoadCursorW(As<HINSTANCE>(instance), MAKEINTRESOURCEW(resourceId)));
}

Handle Win32Windowing::GetStockObject(std::int32_t object) {
  return reinterpret_cast<Handle>(::GetStockObject(object));
}

}  // namespace platform::win32
