// CancellableManager: every call checks the signal first and then forwards.
#include "cancellable_manager.h"

#include <chrono>
#include <utility>

namespace halv {

void CancelSignal::Raise() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    raised_ = true;
  }
  raised_cv_.notify_all();
}

bool CancelSignal::Raised() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return raised_;
}

bool CancelSignal::WaitFor(std::uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return raised_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return raised_; });
}

CancellableManager::CancellableManager(std::shared_ptr<ServiceManager> inner,
                                       std::shared_ptr<CancelSignal> cancel)
    : inner_(std::move(inner)), cancel_(std::move(cancel)) {}

std::uint32_t CancellableManager::OpenManager(std::uint32_t access, ScHandle* manager) {
  if (Cancelled()) return kErrorOperationAborted;
  return inner_->OpenManager(access, manager);
}

std::uint32_t CancellableManager::OpenServiceByName(ScHandle manager, const std::string& name,
                                                    std::uint32_t access, ScHandle* service) {
  if (Cancelled()) return kErrorOperationAborted;
  return inner_->OpenServiceByName(manager, name, access, service);
}

// Handles are given back whatever the signal says.
std::uint32_t CancellableManager::Close(ScHandle handle) { return inner_->Close(handle); }

std::uint32_t CancellableManager::QueryStatus(ScHandle service, ServiceStatusInfo* status) {
  if (Cancelled()) return kErrorOperationAborted;
  return inner_->QueryStatus(service, status);
}

std::uint32_t CancellableManager::Control(ScHandle service, std::uint32_t control,
                                          ServiceStatusInfo* status) {
  if (Cancelled()) return kErrorOperationAborted;
  return inner_->Control(service, control, status);
}

std::uint32_t CancellableManager::Start(ScHandle service) {
  if (Cancelled()) return kErrorOperationAborted;
  return inner_->Start(service);
}

std::uint32_t CancellableManager::EnumDependents(ScHandle service, std::uint32_t state,
                                                 std::vector<ServiceEntry>* entries,
                                                 std::uint32_t buffer_bytes,
                                                 std::uint32_t* bytes_needed) {
  if (Cancelled()) return kErrorOperationAborted;
  return inner_->EnumDependents(service, state, entries, buffer_bytes, bytes_needed);
}

std::uint32_t CancellableManager::EnumServices(
    ScHandle manager, std::uint32_t type, std::uint32_t state, std::vector<ServiceEntry>* entries,
    std::uint32_t buffer_bytes, std::uint32_t* bytes_needed, std::uint32_t* resume_handle) {
  if (Cancelled()) return kErrorOperationAborted;
  return inner_->EnumServices(manager, type, state, entries, buffer_bytes, bytes_needed,
                              resume_handle);
}

std::uint32_t CancellableManager::QueryConfig(ScHandle service, ServiceConfigInfo* config,
                                              std::uint32_t buffer_bytes,
                                              std::uint32_t* bytes_needed) {
  if (Cancelled()) return kErrorOperationAborted;
  return inner_->QueryConfig(service, config, buffer_bytes, bytes_needed);
}

std::uint32_t CancellableManager::ChangeConfig(ScHandle service, std::uint32_t start_type,
                                               const std::string* display_name) {
  if (Cancelled()) return kErrorOperationAborted;
  return inner_->ChangeConfig(service, start_type, display_name);
}

std::uint32_t CancellableManager::SetDelayedAutoStart(ScHandle service, bool delayed) {
  if (Cancelled()) return kErrorOperationAborted;
  return inner_->SetDelayedAutoStart(service, delayed);
}

std::uint32_t CancellableManager::TickCount() { return inner_->TickCount(); }

// Real time on the signal, so that raising it ends the pause at once.
void CancellableManager::Pause(std::uint32_t ms) { cancel_->WaitFor(ms); }

}  // namespace halv
