// A client connection as the command interpreter sees it.
//
// Every reply piece is one call of SendText or SendBytes, which the real
// connection hands to the socket as one send; a recording fake lets tests
// check replies byte for byte. Each connection also carries its login state,
// used while logins are required. Called on the service thread only.
#ifndef HALV_SERVICE_CORE_CONNECTION_H_
#define HALV_SERVICE_CORE_CONNECTION_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "login.h"

namespace halv {

class Connection {
 public:
  virtual ~Connection() = default;

  // Sends `text` in one send. A send that would block is dropped; any other
  // send failure closes the connection and raises halv::Error.
  virtual void SendText(std::string_view text) = 0;
  // Sends a byte block (zero bytes included) in one send, as SendText.
  virtual void SendBytes(const void* data, std::size_t size) = 0;
  // Closes the connection. The disconnection is handled after the current
  // event; further sends do nothing.
  virtual void Close() = 0;
  // Whether Close has been called (or the peer has gone).
  virtual bool IsClosed() const = 0;
  // The peer's IPv4 address in dotted form; empty when not connected.
  virtual std::string PeerAddress() const = 0;

  // Who the connection acts as while logins are required: "Anonymous" until
  // an AUTH succeeds.
  access::LoginSession& Login() { return login_; }
  const access::LoginSession& Login() const { return login_; }

  // When the connection was accepted or last received anything, on the
  // server's millisecond clock (for IdleTimeout).
  std::uint64_t last_receipt_ms() const { return last_receipt_ms_; }
  void set_last_receipt_ms(std::uint64_t ms) { last_receipt_ms_ = ms; }

 private:
  access::LoginSession login_;
  std::uint64_t last_receipt_ms_ = 0;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_CONNECTION_H_
