// The simulated window manager.
#include "platform/sim/SimWindowing.h"

#include <algorithm>
#include <cstdio>

#include "platform/Text.h"

namespace platform::sim {

namespace {

constexpr Handle kIconHandle = 0x10003;
constexpr Handle kCursorHandle = 0x10005;
constexpr Handle kStockObjectBase = 0x1900010;
constexpr Handle kMessageOnly = ~Handle{0};  // HWND -1 as a PeekMessageW filter: thread messages

std::string MessageText(Handle hwnd, std::uint32_t message, std::uintptr_t wParam,
                        std::intptr_t lParam) {
  return HandleText(hwnd) + " " + HexText(message) + " " + HexText(wParam) + " " +
         HexText(static_cast<std::uintptr_t>(lParam));
}

std::string Text(const char16_t* s) {
  return s == nullptr ? std::string("(null)") : ToUtf8(s);
}

bool InRange(std::uint32_t message, std::uint32_t low, std::uint32_t high) {
  return (low == 0 && high == 0) || (message >= low && message <= high);
}

}  // namespace

SimWindowing::SimWindowing(SimCore& core, SimThreads& threads) : core_(core), threads_(threads) {
  threads_.AddThreadExitListener([this] { ThreadEnded(std::this_thread::get_id()); });
}

std::uint16_t SimWindowing::RegisterClassW(const WndClass* wc) {
  SimCall call = core_.Enter(Fault::kRegisterClassW);
  call.Describe([&] {
    std::string what = "RegisterClassW";
    if (wc != nullptr) {
      what += " style=" + std::to_string(wc->style) +
              " proc=" + (wc->lpfnWndProc != nullptr ? "set" : "null") +
              " extra=" + std::to_string(wc->cbClsExtra) + "," + std::to_string(wc->cbWndExtra) +
              " instance=" + HandleText(wc->hInstance) + " icon=" + HandleText(wc->hIcon) +
              " cursor=" + HandleText(wc->hCursor) +
              " background=" + HandleText(wc->hbrBackground) + " menu=" + Text(wc->lpszMenuName) +
              " class=" + Text(wc->lpszClassName);
    }
    return what;
  });
  std::uint32_t error = call.error();
  if (!call.failed()) {
    if (wc == nullptr || wc->lpszClassName == nullptr || wc->lpfnWndProc == nullptr) {
      error = kErrorInvalidParameter;
    } else {
      for (const SimWindowClass& c : classes_) {
        if (c.className == wc->lpszClassName) error = kErrorClassAlreadyExists;
      }
    }
  }
  if (call.failed() || error != 0) {
    SimCore::SetLastError(error);
    call.Record([] { return " -> 0"; });
    return 0;
  }
  SimWindowClass c;
  c.atom = nextAtom_++;
  c.style = wc->style;
  c.proc = wc->lpfnWndProc;
  c.cbClsExtra = wc->cbClsExtra;
  c.cbWndExtra = wc->cbWndExtra;
  c.instance = wc->hInstance;
  c.icon = wc->hIcon;
  c.cursor = wc->hCursor;
  c.background = wc->hbrBackground;
  c.hasMenuName = wc->lpszMenuName != nullptr;
  if (c.hasMenuName) c.menuName = wc->lpszMenuName;
  c.className = wc->lpszClassName;
  classes_.push_back(c);
  call.Record([&] { return " -> " + HexText(c.atom); });
  return c.atom;
}

Handle SimWindowing::CreateWindowExW(std::uint32_t exStyle, const char16_t* className,
                                     const char16_t* windowName, std::uint32_t style,
                                     std::int32_t x, std::int32_t y, std::int32_t width,
                                     std::int32_t height, Handle parent, Handle menu,
                                     Handle instance, void* param) {
  SimWindow w;
  {
    SimCall call = core_.Enter(Fault::kCreateWindowExW);
    call.Describe([&] {
      return "CreateWindowExW " + HexText(exStyle) + " " + Text(className) + " " +
             Text(windowName) + " " + HexText(style) + " " + HexText(std::uint32_t(x)) + " " +
             HexText(std::uint32_t(y)) + " " + HexText(std::uint32_t(width)) + " " +
             HexText(std::uint32_t(height)) + " " + HandleText(parent) + " " + HandleText(menu) +
             " " + HandleText(instance) + " " + (param == nullptr ? "null" : "param");
    });
    std::uint32_t error = call.error();
    const SimWindowClass* cls = nullptr;
    if (!call.failed() && className != nullptr) {
      for (const SimWindowClass& c : classes_) {
        if (c.className == className) cls = &c;
      }
    }
    if (!call.failed() && cls == nullptr) error = kErrorCannotFindWndClass;
    if (call.failed() || error != 0) {
      SimCore::SetLastError(error);
      call.Record([] { return " -> null"; });
      return kNullHandle;
    }
    w.hwnd = nextWindow_;
    nextWindow_ += 0x10;
    w.exStyle = exStyle;
    w.className = className;
    if (windowName != nullptr) w.windowName = windowName;
    w.style = style;
    w.x = x;
    w.y = y;
    w.width = width;
    w.height = height;
    w.parent = parent;
    w.menu = menu;
    w.instance = instance;
    w.param = param;
    w.proc = cls->proc;
    w.owner = std::this_thread::get_id();
    windows_.push_back(w);
    call.Record([&] { return " -> " + HandleText(w.hwnd); });
  }
  // The creation messages, as the system sends them before CreateWindowExW returns.
  CallProc(w.proc, w.hwnd, kWmGetMinMaxInfo, 0, 0, "create");
  bool created = CallProc(w.proc, w.hwnd, kWmNcCreate, 0, 0, "create") != 0;
  if (created) {
    CallProc(w.proc, w.hwnd, kWmNcCalcSize, 0, 0, "create");
    created = CallProc(w.proc, w.hwnd, kWmCreate, 0, 0, "create") != -1;
  }
  if (!created) {
    DestroyWindow(w.hwnd);
    return kNullHandle;
  }
  return w.hwnd;
}

Bool SimWindowing::ShowWindow(Handle window, std::int32_t command) {
  SimCall call = core_.Enter();
  SimWindow* w = FindLocked(window);
  Bool wasVisible = 0;
  if (w != nullptr) {
    wasVisible = w->visible ? 1 : 0;
    w->visible = command != static_cast<std::int32_t>(kSwHide);
  }
  call.Record([&] {
    return "ShowWindow " + HandleText(window) + " " + std::to_string(command) + " -> " +
           std::to_string(wasVisible);
  });
  return wasVisible;
}

std::intptr_t SimWindowing::CallProc(WindowProc proc, Handle hwnd, std::uint32_t message,
                                     std::uintptr_t wParam, std::intptr_t lParam, const char* how) {
  std::intptr_t result = proc(hwnd, message, wParam, lParam);
  std::lock_guard lock(core_.Mutex());
  core_.Record([&] {
    return std::string("WndProc ") + how + " " + MessageText(hwnd, message, wParam, lParam) +
           " -> " + HexText(static_cast<std::uintptr_t>(result));
  });
  return result;
}

Bool SimWindowing::PeekMessageW(Msg* message, Handle window, std::uint32_t filterMin,
                                std::uint32_t filterMax, std::uint32_t removeFlags) {
  const std::thread::id me = std::this_thread::get_id();
  // Messages sent to this thread's windows run first, whatever the filter.
  for (;;) {
    std::shared_ptr<Sent> next;
    WindowProc proc = nullptr;
    {
      std::lock_guard lock(core_.Mutex());
      auto it =
          std::find_if(sent_.begin(), sent_.end(), [&](const auto& s) { return s->target == me; });
      if (it == sent_.end()) break;
      next = *it;
      sent_.erase(it);
      SimWindow* w = FindLocked(next->hwnd);
      if (w != nullptr) proc = w->proc;
    }
    if (proc == nullptr) {
      {
        std::lock_guard lock(core_.Mutex());
        next->failed = true;
        next->done = true;
      }
      threads_.scheduler().Changed();
      continue;
    }
    std::intptr_t result =
        CallProc(proc, next->hwnd, next->message, next->wParam, next->lParam, "sent");
    {
      std::lock_guard lock(core_.Mutex());
      next->result = result;
      next->done = true;
    }
    threads_.scheduler().Changed();
  }

  SimCall call = core_.Enter();
  call.Describe([&] {
    return "PeekMessageW " + HandleText(window) + " " + HexText(filterMin) + " " +
           HexText(filterMax) + " " + std::to_string(removeFlags);
  });
  if (window != kNullHandle && window != kMessageOnly) {
    SimWindow* w = FindLocked(window);
    if (w == nullptr || w->owner != me) {
      SimCore::SetLastError(kErrorInvalidWindowHandle);
      call.Record([] { return " -> 0 (no such window)"; });
      return 0;
    }
  }
  auto it = std::find_if(posted_.begin(), posted_.end(), [&](const Posted& p) {
    if (p.target != me || !InRange(p.msg.message, filterMin, filterMax)) return false;
    if (window == kNullHandle) return true;
    if (window == kMessageOnly) return p.msg.hwnd == kNullHandle;
    return p.msg.hwnd == window;
  });
  if (it == posted_.end()) {
    call.Record([] { return " -> 0"; });
    return 0;
  }
  if (message != nullptr) *message = it->msg;
  call.Record([&] {
    return " -> 1 " + MessageText(it->msg.hwnd, it->msg.message, it->msg.wParam, it->msg.lParam);
  });
  if ((removeFlags & kPmRemove) != 0) posted_.erase(it);
  return 1;
}

std::intptr_t SimWindowing::DefWindowProcW(Handle window, std::uint32_t message,
                                           std::uintptr_t wParam, std::intptr_t lParam) {
  std::intptr_t result = message == kWmNcCreate ? 1 : 0;
  {
    SimCall call = core_.Enter();
    call.Record([&] {
      return "DefWindowProcW " + MessageText(window, message, wParam, lParam) + " -> " +
             std::to_string(result);
    });
  }
  if (message == kWmClose) DestroyWindow(window);
  return result;
}

Handle SimWindowing::LoadIconW(Handle instance, std::uintptr_t resourceId) {
  SimCall call = core_.Enter(Fault::kLoadIconW);
  Handle h = call.failed() ? kNullHandle : kIconHandle;
  if (h == kNullHandle) SimCore::SetLastError(call.error());
  call.Record([&] {
    return "LoadIconW " + HandleText(instance) + " " + std::to_string(resourceId) + " -> " +
           HandleText(h);
  });
  return h;
}

Handle SimWindowing::LoadCursorW(Handle instance, std::uintptr_t resourceId) {
  SimCall call = core_.Enter(Fault::kLoadCursorW);
  Handle h = call.failed() ? kNullHandle : kCursorHandle;
  if (h == kNullHandle) SimCore::SetLastError(call.error());
  call.Record([&] {
    return "LoadCursorW " + HandleText(instance) + " " + std::to_string(resourceId) + " -> " +
           HandleText(h);
  });
  return h;
}

Handle SimWindowing::GetStockObject(std::int32_t object) {
  SimCall call = core_.Enter(Fault::kGetStockObject);
  Handle h =
      call.failed() || object < 0 ? kNullHandle : kStockObjectBase + static_cast<Handle>(object);
  call.Record([&] { return "GetStockObject " + std::to_string(object) + " -> " + HandleText(h); });
  return h;
}

Handle SimWindowing::FindWindowW(const char16_t* className, const char16_t* windowName) const {
  std::lock_guard lock(core_.Mutex());
  for (const SimWindow& w : windows_) {
    if (className != nullptr && w.className != className) continue;
    if (windowName != nullptr && w.windowName != windowName) continue;
    return w.hwnd;
  }
  return kNullHandle;
}

bool SimWindowing::SendMessageW(Handle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam, std::intptr_t* result) {
  auto sent = std::make_shared<Sent>();
  WindowProc direct = nullptr;
  {
    SimCall call = core_.Enter();
    call.Record([&] { return "SendMessageW " + MessageText(window, message, wParam, lParam); });
    SimWindow* w = FindLocked(window);
    if (w == nullptr) {
      SimCore::SetLastError(kErrorInvalidWindowHandle);
      return false;
    }
    if (w->owner == std::this_thread::get_id()) {
      direct = w->proc;
    } else {
      *sent = Sent{window, message, wParam, lParam, w->owner, false, false, 0};
      sent_.push_back(sent);
    }
  }
  if (direct != nullptr) {
    std::intptr_t r = CallProc(direct, window, message, wParam, lParam, "direct");
    if (result != nullptr) *result = r;
    return true;
  }
  threads_.scheduler().Changed();
  threads_.Await([&] {
    std::lock_guard lock(core_.Mutex());
    return sent->done;
  });
  std::lock_guard lock(core_.Mutex());
  if (!sent->done) {
    // The process ended first: the message stays undelivered.
    sent_.erase(std::remove(sent_.begin(), sent_.end(), sent), sent_.end());
    return false;
  }
  if (sent->failed) {
    SimCore::SetLastError(kErrorInvalidWindowHandle);
    return false;
  }
  if (result != nullptr) *result = sent->result;
  return true;
}

bool SimWindowing::PostMessageW(Handle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
  {
    SimCall call = core_.Enter();
    SimWindow* w = FindLocked(window);
    call.Record([&] {
      return "PostMessageW " + MessageText(window, message, wParam, lParam) + " -> " +
             (w != nullptr ? "1" : "0");
    });
    if (w == nullptr) {
      SimCore::SetLastError(kErrorInvalidWindowHandle);
      return false;
    }
    Posted p;
    p.msg = Msg{window, message, wParam, lParam, static_cast<std::uint32_t>(core_.NowMs()), 0, 0};
    p.target = w->owner;
    posted_.push_back(p);
  }
  threads_.scheduler().Changed();
  return true;
}

std::vector<SimWindowClass> SimWindowing::Classes() const {
  std::lock_guard lock(core_.Mutex());
  return classes_;
}

std::vector<SimWindow> SimWindowing::Windows() const {
  std::lock_guard lock(core_.Mutex());
  return windows_;
}

std::size_t SimWindowing::PostedWaiting(Handle window) const {
  std::lock_guard lock(core_.Mutex());
  return static_cast<std::size_t>(std::count_if(
      posted_.begin(), posted_.end(), [&](const Posted& p) { return p.msg.hwnd == window; }));
}

SimWindow* SimWindowing::FindLocked(Handle hwnd) {
  auto it = std::find_if(windows_.begin(), windows_.end(),
                         [&](const SimWindow& w) { return w.hwnd == hwnd; });
  return it == windows_.end() ? nullptr : &*it;
}

// DestroyWindow on the owning thread: WM_DESTROY and WM_NCDESTROY, then the window is gone.
void SimWindowing::DestroyWindow(Handle hwnd) {
  WindowProc proc = nullptr;
  {
    std::lock_guard lock(core_.Mutex());
    SimWindow* w = FindLocked(hwnd);
    if (w == nullptr) return;
    proc = w->proc;
    core_.Record([&] { return "DestroyWindow " + HandleText(hwnd); });
  }
  CallProc(proc, hwnd, kWmDestroy, 0, 0, "destroy");
  CallProc(proc, hwnd, kWmNcDestroy, 0, 0, "destroy");
  {
    std::lock_guard lock(core_.Mutex());
    DestroyLocked(hwnd);
  }
  threads_.scheduler().Changed();
}

// Removes the window, its posted messages, and fails what was sent to it.
void SimWindowing::DestroyLocked(Handle hwnd) {
  windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                [&](const SimWindow& w) { return w.hwnd == hwnd; }),
                 windows_.end());
  posted_.erase(std::remove_if(posted_.begin(), posted_.end(),
                               [&](const Posted& p) { return p.msg.hwnd == hwnd; }),
                posted_.end());
  for (auto it = sent_.begin(); it != sent_.end();) {
    if ((*it)->hwnd == hwnd) {
      (*it)->failed = true;
      (*it)->done = true;
      it = sent_.erase(it);
    } else {
      ++it;
    }
  }
}

void SimWindowing::ThreadEnded(std::thread::id thread) {
  bool any = false;
  {
    std::lock_guard lock(core_.Mutex());
    std::vector<Handle> owned;
    for (const SimWindow& w : windows_) {
      if (w.owner == thread) owned.push_back(w.hwnd);
    }
    for (Handle h : owned) {
      core_.Record([&] { return "Window " + HandleText(h) + " ends with its thread"; });
      DestroyLocked(h);
      any = true;
    }
    posted_.erase(std::remove_if(posted_.begin(), posted_.end(),
                                 [&](const Posted& p) { return p.target == thread; }),
                  posted_.end());
  }
  if (any) threads_.scheduler().Changed();
}

}  // namespace platform::sim
