// A client connection as the command interpreter sees it.
//
// Every reply piece is one call of SendText or SendBytes, which the real
// connection hands to the socket as one send; a recording fake lets tests
// check replies byte for byte. Called on the service thread only.
#ifndef HALV_SERVICE_CORE_CONNECTION_H_
#define HALV_SERVICE_CORE_CONNECTION_H_

#include <cstddef>
#include <string>
#include <string_view>

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
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_CONNECTION_H_
