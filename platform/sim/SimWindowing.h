// The simulated window manager: classes, windows, sent and posted messages, PeekMessageW.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Windowing.h"
#include "platform/sim/SimCore.h"
#include "platform/sim/SimThreads.h"

namespace platform::sim {

/// A registered window class, with its texts copied.
struct SimWindowClass {
  std::uint16_t atom = 0;
  std::uint32_t style = 0;
  WindowProc proc = nullptr;
  std::int32_t cbClsExtra = 0;
  std::int32_t cbWndExtra = 0;
  Handle instance = kNullHandle;
  Handle icon = kNullHandle;
  Handle cursor = kNullHandle;
  Handle background = kNullHandle;
  bool hasMenuName = false;
  std::u16string menuName;
  std::u16string className;
};

/// A window, as CreateWindowExW made it. It belongs to the thread that created it.
struct SimWindow {
  Handle hwnd = kNullHandle;
  std::uint32_t exStyle = 0;
  std::u16string className;
  std::u16string windowName;
  std::uint32_t style = 0;
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  Handle parent = kNullHandle;
  Handle menu = kNullHandle;
  Handle instance = kNullHandle;
  void* param = nullptr;
  WindowProc proc = nullptr;
  std::thread::id owner;
  bool visible = false;
};

inline constexpr std::uint32_t kErrorInvalidWindowHandle = 1400;
inline constexpr std::uint32_t kErrorCannotFindWndClass = 1407;
inline constexpr std::uint32_t kErrorClassAlreadyExists = 1410;
inline constexpr std::uint32_t kWmCreate = 0x0001;
inline constexpr std::uint32_t kWmDestroy = 0x0002;
inline constexpr std::uint32_t kWmGetMinMaxInfo = 0x0024;
inline constexpr std::uint32_t kWmNcCreate = 0x0081;
inline constexpr std::uint32_t kWmNcDestroy = 0x0082;
inline constexpr std::uint32_t kWmNcCalcSize = 0x0083;

/// Windows and their messages. A message sent to a window from another thread waits in that
/// thread's sent queue; the owning thread's next PeekMessageW runs the window procedure for it,
/// before it looks at the posted queue, and the result goes back to the sender, which waits
/// (and counts as blocked) until then. A posted message waits in the owning thread's posted
/// queue until PeekMessageW returns it; the simulated system never dispatches it.
///
/// CreateWindowExW sends the creation messages a top-level window gets (WM_GETMINMAXINFO,
/// WM_NCCREATE, WM_NCCALCSIZE, WM_CREATE, with lParam 0); DefWindowProcW answers WM_NCCREATE
/// with 1, destroys the window on WM_CLOSE (WM_DESTROY, WM_NCDESTROY) and answers 0 otherwise.
/// A thread's windows end with it.
class SimWindowing final : public Windowing {
 public:
  SimWindowing(SimCore& core, SimThreads& threads);

  std::uint16_t RegisterClassW(const WndClass* wc) override;
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

  /// FindWindowW: the first live window of that class and title (null matches any); or null.
  Handle FindWindowW(const char16_t* className, const char16_t* windowName) const;
  /// SendMessageW from any thread: the window procedure's result goes to *result. On the owning
  /// thread the procedure runs at once; from another it runs in that thread's next PeekMessageW
  /// and the sender waits. False (with the last error) when the window does not exist or ends
  /// before it was delivered.
  bool SendMessageW(Handle window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam, std::intptr_t* result);
  /// PostMessageW: queues the message for the window's thread. False when there is no window.
  bool PostMessageW(Handle window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam);

  [[nodiscard]] std::vector<SimWindowClass> Classes() const;
  /// The live windows.
  [[nodiscard]] std::vector<SimWindow> Windows() const;
  /// Posted messages still waiting in the queue of the window's thread.
  [[nodiscard]] std::size_t PostedWaiting(Handle window) const;

 private:
  struct Sent {
    Handle hwnd = kNullHandle;
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::thread::id target;
    bool done = false;
    bool failed = false;
    std::intptr_t result = 0;
  };
  struct Posted {
    Msg msg{};
    std::thread::id target;
  };

  SimWindow* FindLocked(Handle hwnd);
  void DestroyLocked(Handle hwnd);
  void DestroyWindow(Handle hwnd);
  void ThreadEnded(std::thread::id thread);
  std::intptr_t CallProc(WindowProc proc, Handle hwnd, std::uint32_t message, std::uintptr_t wParam,
                         std::intptr_t lParam, const char* how);

  SimCore& core_;
  SimThreads& threads_;
  std::vector<SimWindowClass> classes_;
  std::vector<SimWindow> windows_;
  std::deque<std::shared_ptr<Sent>> sent_;
  std::deque<Posted> posted_;
  Handle nextWindow_ = 0x10010;
  std::uint16_t nextAtom_ = 0xC000;
};

}  // namespace platform::sim
