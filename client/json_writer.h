// JSON text for the client's --json output: string escaping and a small
// builder of one object per line. Written here rather than taken from a
// library because the server's texts are single-byte code-page text, not
// UTF-8: every byte of 128 or more is written as \u00XX (read as Latin-1), so
// the output is valid JSON whatever the server sent.
#ifndef HALV_CLIENT_JSON_WRITER_H_
#define HALV_CLIENT_JSON_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace halv::client {

// `text` as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

// Builds one JSON object or array by appending members in order. Nested
// values are passed as finished JSON text (from another JsonObject or
// JsonArray, or JsonString).
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::string_view text);  // a string
  JsonObject& Add(std::string_view key, const char* text) {
    return Add(key, std::string_view(text));
  }
  JsonObject& AddBool(std::string_view key, bool value);
  JsonObject& AddNumber(std::string_view key, std::uint64_t value);
  JsonObject& AddRaw(std::string_view key, std::string_view json);
  std::string Text() const { return "{" + members_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string members_;
};

class JsonArray {
 public:
  JsonArray& AddRaw(std::string_view json);
  std::string Text() const { return "[" + items_ + "]"; }

 private:
  std::string items_;
};

}  // namespace halv::client

#endif  // HALV_CLIENT_JSON_WRITER_H_
