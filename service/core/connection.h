// A client connection as the command interpreter sees it.
//
// The interpreter hands over its reply pieces in order with SendText and
// SendBytes; a recording fake lets tests check them byte for byte. The
// service's connection queues them and writes them to the socket when a
// command ends (Flush), in as few sends as the socket allows, so a reply
// leaves whole. Each connection also carries its login state, used while
// logins are required. Called on the service thread only.
#ifndef HALV_SERVICE_CORE_CONNECTION_H_
#define HALV_SERVICE_CORE_CONNECTION_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "byte_source.h"
#include "login.h"

namespace halv {

class ClientInput;

class Connection {
 public:
  virtual ~Connection() = default;

  // Sends `text` after everything sent before. A send failure closes the
  // connection and raises halv::Error (at once, or from Flush when queued).
  virtual void SendText(std::string_view text) = 0;
  // Sends a byte block (zero bytes included), as SendText.
  virtual void SendBytes(const void* data, std::size_t size) = 0;
  // Sends everything `source` yields up to its end (a read error ends it
  // like the end), then releases it. This default reads blocks of
  // kStreamBlock bytes and sends each with SendBytes, stopping early once
  // the connection has closed; a queued connection reads further blocks
  // only as its output drains.
  virtual void SendStream(std::unique_ptr<ByteSource> source);
  // Writes what has been sent so far to the peer as far as the socket takes
  // it now; called before a command waits. Does nothing here.
  virtual void Flush() {}
  // Closes the connection. The disconnection is handled after the current
  // event; further sends do nothing.
  virtual void Close() = 0;
  // Whether Close has been called (or the peer has gone).
  virtual bool IsClosed() const = 0;
  // The peer's IPv4 address in dotted form; empty when not connected.
  virtual std::string PeerAddress() const = 0;

  // The connection's line input (the unfinished line, telnet state), kept
  // between receipts; null when the connection keeps none.
  virtual ClientInput* Input() { return nullptr; }
  // Whether no further line may run now: closed, or (for a queued
  // connection) its output is above the high-water mark.
  virtual bool InputPaused() const { return IsClosed(); }

  // The block size of the default SendStream (VIEW's block size).
  static constexpr std::size_t kStreamBlock = 128;

  // Who the connection acts as while logins are required: "Anonymous" until
  // an AUTH succeeds.
  access::LoginSession& Login() { return login_; }
  const access::LoginSession& Login() const { return login_; }

  // When the connection was accepted or last ran a command line, on the
  // server's millisecond clock (for IdleTimeout; telnet-only bytes and
  // empty lines do not count).
  std::uint64_t last_receipt_ms() const { return last_receipt_ms_; }
  void set_last_receipt_ms(std::uint64_t ms) { last_receipt_ms_ = ms; }
  // When the connection was accepted (for LoginTimeout).
  std::uint64_t connected_ms() const { return connected_ms_; }
  void set_connected_ms(std::uint64_t ms) { connected_ms_ = ms; }

 private:
  access::LoginSession login_;
  std::uint64_t last_receipt_ms_ = 0;
  std::uint64_t connected_ms_ = 0;
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_CONNECTION_H_
