// Windowing: the hidden window's class, the window, its message pump and device broadcasts.
#pragma once

#include <cstdint>

#include "platform/Types.h"

namespace platform {

using WindowProc = std::intptr_t (*)(Handle window, std::uint32_t message, std::uintptr_t wParam,
                                     std::intptr_t lParam);

/// WNDCLASSW.
struct WndClass {
  std::uint32_t style;
  WindowProc lpfnWndProc;
  std::int32_t cbClsExtra;
  std::int32_t cbWndExtra;
  Handle hInstance;
  Handle hIcon;
  Handle hCursor;
  Handle hbrBackground;
  const char16_t* lpszMenuName;
  const char16_t* lpszClassName;
};

/// MSG.
struct Msg {
  Handle hwnd;
  std::uint32_t message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
  std::uint32_t time;
  std::int32_t ptX;
  std::int32_t ptY;
};

/// DEV_BROADCAST_HDR.
struct DevBroadcastHdr {
  std::uint32_t dbch_size;
  std::uint32_t dbch_devicetype;
  std::uint32_t dbch_reserved;
};

/// DEV_BROADCAST_VOLUME.
struct DevBroadcastVolume {
  std::uint32_t dbcv_size;
  std::uint32_t dbcv_devicetype;
  std::uint32_t dbcv_reserved;
  std::uint32_t dbcv_unitmask;
  std::uint16_t dbcv_flags;
};

inline constexpr std::uint32_t kWmTimer = 0x0113;
inline constexpr std::uint32_t kWmClose = 0x0010;
inline constexpr std::uint32_t kWmUser = 0x0400;
inline constexpr std::uint32_t kWmDeviceChange = 0x0219;
inline constexpr std::uint32_t kDbtDeviceArrival = 0x8000;
inline constexpr std::uint32_t kDbtDeviceRemoveComplete = 0x8004;
inline constexpr std::uint32_t kDbtDevtypVolume = 2;
inline constexpr std::uint32_t kPmRemove = 1;
inline constexpr std::uint32_t kSwHide = 0;
inline constexpr std::uint32_t kWsOverlappedWindow = 0x00CF0000;
inline constexpr std::int32_t kCwUseDefault = static_cast<std::int32_t>(0x80000000u);
inline constexpr std::uintptr_t kIdiApplication = 32512;
inline constexpr std::uintptr_t kIdcArrow = 32512;
inline constexpr std::int32_t kWhiteBrush = 0;

class Windowing {
 public:
  virtual ~Windowing() = default;
  /// Returns the class atom, or 0.
  virtual std::uint16_t RegisterClassW(const WndClass* windowClass) = 0;
  virtual Handle CreateWindowExW(std::uint32_t exStyle, const char16_t* className,
                                 const char16_t* windowName, std::uint32_t style, std::int32_t x,
                                 std::int32_t y, std::int32_t width, std::int32_t height,
                                 Handle parent, Handle menu, Handle instance, void* param) = 0;
  virtual Bool ShowWindow(Handle window, std::int32_t command) = 0;
  /// Delivers messages sent to the thread's windows, then looks at the posted queue.
  virtual Bool PeekMessageW(Msg* message, Handle window, std::uint32_t filterMin,
                            std::uint32_t filterMax, std::uint32_t removeFlags) = 0;
  virtual std::intptr_t DefWindowProcW(Handle window, std::uint32_t message, std::uintptr_t wParam,
                                       std::intptr_t lParam) = 0;
  /// LoadIconW and LoadCursorW with a resource id (MAKEINTRESOURCE value).
  virtual Handle LoadIconW(Handle instance, std::uintptr_t resourceId) = 0;
  virtual Handle LoadCursorW(Handle instance, std::uintptr_t resourceId) = 0;
  virtual Handle GetStockObject(std::int32_t object) = 0;
};

}  // namespace platform
