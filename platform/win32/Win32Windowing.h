// Windowing on real Windows: the window class, the window and its message pump.
#pragma once

#include "platform/Windowing.h"

namespace platform::win32 {

/// Thin calls into user32 and gdi32. The window procedure is a plain function of the seam;
/// Win32 calls it through a trampoline of its own calling convention, so this process
/// registers one window class (a later registration's procedure replaces the earlier one).
class Win32Windowing final : public Windowing {
 public:
  std::uint16_t RegisterClassW(const WndClass* windowClass) override;
  Handle CreateWindowExW(std::uint32_t exStyle, const char16_t* className,
                         const char16_t* windowName, std::uint32_t style, std::int32_t x,
                         std::int32_t y, std::int32_t width, std::int32_t height, Handle parent,
                         Handle menu, Handle instance, void* param) override;
  Bool ShowWindow(Handle window, std::int32_t command) override;
  Bool PeekMessageW(Msg* message, Handle window, std::uint32_t filterMin, std::uint32_t filterMax,
                    std::uint32_t removeFlags) override;
  std::intptr_t DefWindowProcW(Handle window, std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t lParam) override;
  Handle LoadIconW(Handle instance, std::uintptr_t resourceId) override;
  Handle LoadCursorW(Handle instance, std::uintptr_t resourceId) override;
  Handle GetStockObject(std::int32_t object) override;
};

}  // namespace platform::win32
