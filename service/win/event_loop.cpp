// The message-only window, its timers, its registered messages and the
// queue of posted callbacks.
#include "event_loop.h"

#include <deque>
#include <exception>
#include <mutex>
#include <utility>

namespace halv {
namespace {

constexpr char kWindowClass[] = "Halvexa351ServiceWindow";

}  // namespace

// Shared with every Poster. `window` is set by Open and cleared by Close,
// both under the lock, so a post never reaches a destroyed window.
struct EventLoop::PostQueue {
  std::mutex mutex;
  std::deque<Callback> callbacks;
  HWND window = nullptr;
  bool closed = false;
  // A wake message is on its way; further posts need none.
  bool wake_pending = false;

  // Lock held: makes sure a wake message is on its way while callbacks wait.
  // A failed post (a full message queue) is tried again by the next post or
  // timer tick.
  void WakeLocked() {
    if (window == nullptr || wake_pending || callbacks.empty()) return;
    wake_pending = PostMessageA(window, kWakeMessage, 0, 0) != 0;
  }

  bool Push(Callback callback) {
    std::lock_guard<std::mutex> lock(mutex);
    if (closed) return false;
    callbacks.push_back(std::move(callback));
    WakeLocked();
    return true;
  }
};

EventLoop::EventLoop() : queue_(std::make_shared<PostQueue>()) {}

EventLoop::~EventLoop() { Close(); }

bool EventLoop::Poster::Post(Callback callback) const { return queue_->Push(std::move(callback)); }

EventLoop::Poster EventLoop::GetPoster() const { return Poster(queue_); }

bool EventLoop::Post(Callback callback) { return queue_->Push(std::move(callback)); }

DWORD EventLoop::Open() {
  {
    std::lock_guard<std::mutex> lock(queue_->mutex);
    if (queue_->closed || window_ != nullptr) return ERROR_INVALID_FUNCTION;
  }
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = kWindowClass;
  // A second loop in the process finds the class registered.
  if (RegisterClassA(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return GetLastError();
  HWND window = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) return GetLastError();
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  window_ = window;
  std::lock_guard<std::mutex> lock(queue_->mutex);
  queue_->window = window;
  queue_->WakeLocked();  // for what was posted before the window existed
  return 0;
}

void EventLoop::Run() {
  if (window_ == nullptr) return;
  MSG message;
  while (!quit_ && GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void EventLoop::Close() {
  std::deque<Callback> dropped;
  {
    std::lock_guard<std::mutex> lock(queue_->mutex);
    queue_->closed = true;
    queue_->window = nullptr;
    dropped.swap(queue_->callbacks);
  }
  if (window_ != nullptr) {
    for (const auto& [id, timer] : timers_) KillTimer(window_, timer.system_id);
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    window_ = nullptr;
  }
  timers_.clear();
  timer_by_system_id_.clear();
  handlers_.clear();
  // `dropped` goes here, outside the lock: its callbacks never run.
}

DWORD EventLoop::StartTimer(TimerId id, std::uint32_t interval_ms, Callback on_tick) {
  StopTimer(id);
  if (window_ == nullptr) return ERROR_INVALID_WINDOW_HANDLE;
  const UINT_PTR system_id = next_system_id_++;
  if (SetTimer(window_, system_id, static_cast<UINT>(interval_ms), nullptr) == 0)
    return GetLastError();
  timers_[id] = Timer{system_id, std::move(on_tick)};
  timer_by_system_id_[system_id] = id;
  return 0;
}

void EventLoop::StopTimer(TimerId id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return;
  if (window_ != nullptr) KillTimer(window_, it->second.system_id);
  timer_by_system_id_.erase(it->second.system_id);
  timers_.erase(it);
}

bool EventLoop::RegisterMessage(UINT message, MessageHandler handler) {
  if (message < WM_APP || message >= kWakeMessage) return false;
  handlers_[message] = std::move(handler);
  return true;
}

template <typename Work>
void EventLoop::Guarded(Work&& work) {
  try {
    work();
  } catch (const std::exception& e) {
    if (on_error_) on_error_(e.what());
  }
}

LRESULT CALLBACK EventLoop::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<EventLoop*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(window, message, wparam, lparam);
  return self->OnMessage(message, wparam, lparam);
}

LRESULT EventLoop::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kWakeMessage) {
    RunPosted();
    return 0;
  }
  if (message == WM_TIMER) {
    OnTimer(static_cast<UINT_PTR>(wparam));
    return 0;
  }
  const auto it = handlers_.find(message);
  if (it == handlers_.end()) return DefWindowProcA(window_, message, wparam, lparam);
  // A copy: the handler may register messages anew while it runs.
  const MessageHandler handler = it->second;
  Guarded([&] { handler(wparam, lparam); });
  return 0;
}

void EventLoop::RunPosted() {
  // Only what is queued now: callbacks posted meanwhile wait for the next
  // wake message, so a steady stream of posts cannot starve the sockets.
  std::deque<Callback> batch;
  {
    std::lock_guard<std::mutex> lock(queue_->mutex);
    queue_->wake_pending = false;
    batch.swap(queue_->callbacks);
  }
  for (Callback& callback : batch) {
    if (quit_) break;
    Guarded(callback);
  }
}

void EventLoop::OnTimer(UINT_PTR system_id) {
  const auto found = timer_by_system_id_.find(system_id);
  if (found != timer_by_system_id_.end()) {
    // A copy: the callback may stop or restart its own timer.
    const Callback on_tick = timers_.at(found->second).on_tick;
    Guarded(on_tick);
  } else {
    // A tick of a timer stopped since; the system may still have it running
    // if it belonged to another start.
    KillTimer(window_, system_id);
  }
  // A wake message that could not be posted is tried again.
  std::lock_guard<std::mutex> lock(queue_->mutex);
  queue_->WakeLocked();
}

}  // namespace halv
