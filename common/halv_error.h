// The error type that the product's operations raise.
//
// Registry, configuration and socket failures travel to the handler that
// can report them as this exception; its what() is the text shown to the
// user or written to the event log.
#ifndef HALV_COMMON_HALV_ERROR_H_
#define HALV_COMMON_HALV_ERROR_H_

#include <stdexcept>
#include <string>

namespace halv {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& text) : std::runtime_error(text) {}
};

// Replaces the first "%s" of a message pattern with `arg` (the patterns of the
// product's error texts carry exactly one placeholder).
std::string FormatMessageText(const std::string& pattern, const std::string& arg);

}  // namespace halv

#endif  // HALV_COMMON_HALV_ERROR_H_
