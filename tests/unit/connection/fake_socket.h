// A socket for output-queue tests: takes bytes by a script, records every
// send, and can be told to fail.
#ifndef HALV_TESTS_UNIT_CONNECTION_FAKE_SOCKET_H_
#define HALV_TESTS_UNIT_CONNECTION_FAKE_SOCKET_H_

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "halv_error.h"
#include "output_queue.h"

namespace halv::testing {

class FakeSocket : public StreamSocket {
 public:
  // What the next sends take, one entry per send: a byte count (0 means it
  // would block). With the script empty, `limit` applies: each send takes
  // up to that many bytes (kAll: everything offered).
  static constexpr std::size_t kAll = static_cast<std::size_t>(-1);

  std::size_t Send(const char* data, std::size_t size) override {
    if (size == 0) throw Error("empty send");
    if (fail) throw Error("Windows socket error: reset (10054), on API 'send'");
    std::size_t take = limit;
    if (!script.empty()) {
      take = script.front();
      script.pop_front();
    }
    if (take > size) take = size;
    if (take == 0) {
      ++would_block;
      return 0;
    }
    sends.emplace_back(data, take);
    received.append(data, take);
    return take;
  }

  std::deque<std::size_t> script;
  std::size_t limit = kAll;
  bool fail = false;
  std::vector<std::string> sends;  // what each send took
  std::string received;            // everything taken, in order
  int would_block = 0;
};

}  // namespace halv::testing

#endif  // HALV_TESTS_UNIT_CONNECTION_FAKE_SOCKET_H_
