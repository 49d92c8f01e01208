// PasswordChecks: the password transform of AUTH, away from the service
// thread.
//
// The transform is slow on purpose (about 10 ms), so a stream of AUTH lines
// would hold the service thread and every other client with it. The
// service thread reads the stored form and hands it, the user and the
// password to a job on the executor; the job computes and compares, and
// posts the result back to the owner thread, as the waiting operations'
// reports come back. The job touches nothing but its own copies.
#ifndef HALV_SERVICE_CORE_PASSWORD_CHECKS_H_
#define HALV_SERVICE_CORE_PASSWORD_CHECKS_H_

#include <cstdint>
#include <functional>
#include <string>

#include "executor.h"
#include "login.h"
#include "operation_scheduler.h"  // ConnectionId

namespace halv {

// A check's number, unique over the life of its PasswordChecks; 0 is none.
using LoginCheckId = std::uint64_t;

// What a check posts back.
struct LoginCheckReport {
  LoginCheckId id = 0;
  ConnectionId client = 0;
  bool matched = false;
};

class PasswordChecks {
 public:
  // Called on the job's thread; must carry the report to the owner thread.
  using Post = std::function<void(LoginCheckReport)>;

  // `executor` must outlive this object.
  PasswordChecks(Executor& executor, Post post,
                 access::Credentials credentials = access::Credentials::Standard());
  PasswordChecks(const PasswordChecks&) = delete;
  PasswordChecks& operator=(const PasswordChecks&) = delete;

  // Hands the check of `password` for `user` (its stored form `form`) of
  // connection `client` to the executor. Owner thread.
  LoginCheckId Submit(ConnectionId client, const access::StoredForm& form, const std::string& user,
                      const std::string& password);

 private:
  Executor& executor_;
  Post post_;
  access::Credentials credentials_;
  LoginCheckId next_id_ = 1;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_PASSWORD_CHECKS_H_
