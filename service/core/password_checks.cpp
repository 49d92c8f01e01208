// PasswordChecks: the transform as a job of the executor.
#include "password_checks.h"

#include <utility>

namespace halv {

PasswordChecks::PasswordChecks(Executor& executor, Post post, access::Credentials credentials)
    : executor_(executor), post_(std::move(post)), credentials_(std::move(credentials)) {}

LoginCheckId PasswordChecks::Submit(ConnectionId client, const access::StoredForm& form,
                                    const std::string& user, const std::string& password) {
  const LoginCheckId id = next_id_++;
  executor_.Execute([post = post_, credentials = credentials_, form, user, password, id, client] {
    LoginCheckReport report;
    report.id = id;
    report.client = client;
    // A check that cannot be computed fails; its result still goes back, so
    // that the connection is answered and the check ends in the throttle.
    try {
      report.matched = access::MatchesStoredForm(form, user, password, credentials);
    } catch (...) {
      report.matched = false;
    }
    post(report);
  });
  return id;
}

}  // namespace halv
