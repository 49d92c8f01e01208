// EventLoop: the service thread's message loop over a message-only window.
//
// One thread, the loop's (the one that calls Open), runs everything the loop
// delivers, one callback at a time and each to its end: the timers' ticks,
// the window messages registered for the socket layer (WSAAsyncSelect
// notifications) and the callbacks posted from any thread. So what runs on
// the loop needs no locks.
//
// Timers: one mechanism for all of them (window timers). Each start of a
// timer gets a fresh system timer number, so a tick of a timer that has
// since been stopped or restarted is recognised and passed over: a stopped
// timer never runs its callback again.
//
// Post is the only call for other threads. Callbacks run in the order they
// were posted; those posted before Open wait and run once Run runs (so a
// request that comes before the loop exists is not lost); after Close they
// are refused. A Poster is a handle for threads that may outlive the loop.
//
// An error (std::exception) that escapes a callback or handler is given to
// the error handler and the loop goes on.
#ifndef HALV_SERVICE_WIN_EVENT_LOOP_H_
#define HALV_SERVICE_WIN_EVENT_LOOP_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace halv {

class EventLoop {
 public:
  using Callback = std::function<void()>;
  using MessageHandler = std::function<void(WPARAM, LPARAM)>;
  using ErrorHandler = std::function<void(const std::string& text)>;
  // A timer's number, chosen by its user.
  using TimerId = std::uint32_t;

  // The loop's own message, not available to RegisterMessage.
  static constexpr UINT kWakeMessage = 0xBFFF;

  class Poster;

  EventLoop();
  // Closes the loop (see Close).
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // Creates the message-only window on the calling thread, which becomes
  // the loop's thread; callbacks posted so far are then due. Returns 0, or
  // the system error code (the loop stays closed to timers and messages).
  // Once.
  DWORD Open();
  // The window whose messages the loop delivers (null before Open and after
  // Close); for WSAAsyncSelect.
  HWND Window() const { return window_; }

  // Loop thread: delivers events until a callback calls Quit (at once if
  // one already has, or when the loop is not open). Events still queued then
  // are not run.
  void Run();
  // Loop thread: Run returns when the running callback ends.
  void Quit() { quit_ = true; }
  // Loop thread (or any thread before Open): stops every timer, drops the
  // callbacks still queued and destroys the window; later posts are
  // refused. Nothing when already closed.
  void Close();

  // Any thread: queues `callback` to run on the loop's thread. Returns false
  // (and drops it) when the loop is closed.
  bool Post(Callback callback);
  Poster GetPoster() const;

  // Loop thread: starts timer `id`, or restarts it with the new interval and
  // callback: `on_tick` runs every `interval_ms` until StopTimer. Returns 0
  // or the system error code (the timer is then stopped).
  DWORD StartTimer(TimerId id, std::uint32_t interval_ms, Callback on_tick);
  // Loop thread: stops timer `id`; a tick already due does not run. Nothing
  // for a timer that is not running.
  void StopTimer(TimerId id);

  // Loop thread: `handler` receives window message `message` (WM_APP up to,
  // not including, kWakeMessage) with its parameters. Returns false for a
  // message outside that range.
  bool RegisterMessage(UINT message, MessageHandler handler);
  // Loop thread: where errors escaping callbacks and handlers go (by default
  // nowhere).
  void SetErrorHandler(ErrorHandler handler) { on_error_ = std::move(handler); }

 private:
  struct PostQueue;
  struct Timer {
    UINT_PTR system_id = 0;
    Callback on_tick;
  };

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT OnMessage(UINT message, WPARAM wparam, LPARAM lparam);
  // Runs the callbacks queued when the wake message arrived.
  void RunPosted();
  void OnTimer(UINT_PTR system_id);
  // Runs `work`, giving an escaping error to the error handler.
  template <typename Work>
  void Guarded(Work&& work);

  std::shared_ptr<PostQueue> queue_;
  HWND window_ = nullptr;
  bool quit_ = false;
  UINT_PTR next_system_id_ = 1;
  std::map<TimerId, Timer> timers_;
  std::map<UINT_PTR, TimerId> timer_by_system_id_;
  std::map<UINT, MessageHandler> handlers_;
  ErrorHandler on_error_;
};

// Posts to a loop from any thread, also after the loop has gone (the post is
// then refused). Copyable.
class EventLoop::Poster {
 public:
  // See EventLoop::Post.
  bool Post(Callback callback) const;

 private:
  friend class EventLoop;
  explicit Poster(std::shared_ptr<PostQueue> queue) : queue_(std::move(queue)) {}
  std::shared_ptr<PostQueue> queue_;
};

}  // namespace halv

#endif  // HALV_SERVICE_WIN_EVENT_LOOP_H_
