#include "json_reply.h"

namespace ktr {

std::string AnswerReply(std::string_view answer) {
  JsonReply json;
  json.StartObject();
  json.Member("answer", answer);
  json.EndObject();
  return json.Text();
}

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size() * 2);
  for (const char c : latin1) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

}  // namespace ktr
