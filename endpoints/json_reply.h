// Compact JSON replies: RapidJSON's Writer over a StringBuffer, members in the
// order written, numbers as unsigned decimal integers.
#pragma once

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace ktr {

class JsonReply {
 public:
  JsonReply() : writer_(buffer_) {}

  void StartObject() { writer_.StartObject(); }
  void EndObject() { writer_.EndObject(); }
  void StartArray() { writer_.StartArray(); }
  void EndArray() { writer_.EndArray(); }
  void Key(std::string_view key) { writer_.Key(key.data(), static_cast<rapidjson::SizeType>(key.size())); }
  // A UTF-8 text value.
  void String(std::string_view value) {
    writer_.String(value.data(), static_cast<rapidjson::SizeType>(value.size()));
  }
  void Uint(std::uint32_t value) { writer_.Uint(value); }

  void Member(std::string_view key, std::uint32_t value) {
    Key(key);
    Uint(value);
  }
  void Member(std::string_view key, std::string_view value) {
    Key(key);
    String(value);
  }

  std::string Text() const { return std::string(buffer_.GetString(), buffer_.GetSize()); }

 private:
  rapidjson::StringBuffer buffer_;
  rapidjson::Writer<rapidjson::StringBuffer> writer_;
};

// The reply of the command endpoints: {"answer":"yes"} or {"answer":"no"}.
std::string AnswerReply(std::string_view answer);

// 8-bit text from the device (Latin-1) as UTF-8.
std::string Latin1ToUtf8(std::string_view latin1);

}  // namespace ktr
