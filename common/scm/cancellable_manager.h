// A ServiceManager that can be told to give up: the manager the service's
// worker threads use, so that stopping the service ends every wait at once.
//
// Once its signal is raised, every call (Close excepted) fails with
// ERROR_OPERATION_ABORTED without reaching the manager, and a pause in
// progress ends early, so an operation ends at its next step and still
// closes each handle it opened. A pause waits on the signal in real time;
// it never reaches the inner manager.
#ifndef HALV_COMMON_SCM_CANCELLABLE_MANAGER_H_
#define HALV_COMMON_SCM_CANCELLABLE_MANAGER_H_

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service_manager.h"

namespace halv {

inline constexpr std::uint32_t kErrorOperationAborted = 995;

// A one-way signal shared by threads: raised once, it stays raised.
class CancelSignal {
 public:
  // Raises the signal and wakes every WaitFor. Any thread.
  void Raise();
  bool Raised() const;
  // Waits up to `ms` milliseconds of real time; returns early, true, when
  // the signal is (or becomes) raised. Any thread.
  bool WaitFor(std::uint32_t ms);

 private:
  mutable std::mutex mutex_;
  std::condition_variable raised_cv_;
  bool raised_ = false;
};

class CancellableManager final : public ServiceManager {
 public:
  // `inner` must be usable from the threads that call this object (the
  // advapi32 manager is; the simulated one only from one thread at a time).
  CancellableManager(std::shared_ptr<ServiceManager> inner, std::shared_ptr<CancelSignal> cancel);

  std::uint32_t OpenManager(std::uint32_t access, ScHandle* manager) override;
  std::uint32_t OpenServiceByName(ScHandle manager, const std::string& name, std::uint32_t access,
                                  ScHandle* service) override;
  std::uint32_t Close(ScHandle handle) override;
  std::uint32_t QueryStatus(ScHandle service, ServiceStatusInfo* status) override;
  std::uint32_t Control(ScHandle service, std::uint32_t control,
                        ServiceStatusInfo* status) override;
  std::uint32_t Start(ScHandle service) override;
  std::uint32_t EnumDependents(ScHandle service, std::uint32_t state,
                               std::vector<ServiceEntry>* entries, std::uint32_t buffer_bytes,
                               std::uint32_t* bytes_needed) override;
  std::uint32_t EnumServices(ScHandle manager, std::uint32_t type, std::uint32_t state,
                             std::vector<ServiceEntry>* entries, std::uint32_t buffer_bytes,
                             std::uint32_t* bytes_needed, std::uint32_t* resume_handle) override;
  std::uint32_t QueryConfig(ScHandle service, ServiceConfigInfo* config, std::uint32_t buffer_bytes,
                            std::uint32_t* bytes_needed) override;
  std::uint32_t ChangeConfig(ScHandle service, std::uint32_t start_type,
                             const std::string* display_name) override;
  std::uint32_t SetDelayedAutoStart(ScHandle service, bool delayed) override;
  std::uint32_t TickCount() override;
  void Pause(std::uint32_t ms) override;

 private:
  bool Cancelled() const { return cancel_->Raised(); }

  std::shared_ptr<ServiceManager> inner_;
  std::shared_ptr<CancelSignal> cancel_;
};

}  // namespace halv

#endif  // HALV_COMMON_SCM_CANCELLABLE_MANAGER_H_
