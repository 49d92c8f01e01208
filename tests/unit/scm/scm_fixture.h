// A test fixture around the simulated manager that checks, after every test,
// that the operation under test gave back every handle it opened, once.
#ifndef HALV_TESTS_UNIT_SCM_SCM_FIXTURE_H_
#define HALV_TESTS_UNIT_SCM_SCM_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "service_control.h"
#include "simulated_manager.h"

namespace halv {

class ScmTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(scm.OpenHandleCount(), 0u) << scm.Transcript();
    EXPECT_EQ(scm.BadCloseCount(), 0u) << scm.Transcript();
    EXPECT_EQ(scm.CountCalls("OpenManager") + scm.CountCalls("OpenService"),
              scm.CountCalls("Close") + Refusals("OpenManager") + Refusals("OpenService"))
        << scm.Transcript();
  }

  // Calls of `op` that failed.
  std::size_t Refusals(const std::string& op) const {
    std::size_t n = 0;
    for (const SimulatedCall& call : scm.Calls()) {
      if (call.op == op && call.result != 0) ++n;
    }
    return n;
  }

  // Index of the first recorded call of `op` on `target`, or -1.
  int IndexOf(const std::string& op, const std::string& target) const {
    const auto& calls = scm.Calls();
    for (std::size_t i = 0; i < calls.size(); ++i) {
      if (calls[i].op == op && calls[i].target == target) return static_cast<int>(i);
    }
    return -1;
  }

  // Index of the last recorded call of `op` on `target`, or -1.
  int LastIndexOf(const std::string& op, const std::string& target) const {
    const auto& calls = scm.Calls();
    for (std::size_t i = calls.size(); i-- > 0;) {
      if (calls[i].op == op && calls[i].target == target) return static_cast<int>(i);
    }
    return -1;
  }

  SimulatedManager scm;
};

}  // namespace halv

#endif  // HALV_TESTS_UNIT_SCM_SCM_FIXTURE_H_
