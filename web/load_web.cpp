#include "load_web.h"

#include <array>
#include <utility>

namespace ktr {

namespace {

struct TypeRule {
  std::string_view extension;
  std::string_view contentType;
};

// Searched in this order; a later hit overrides an earlier one. ".json"
// follows ".js" because it contains it.
constexpr std::array<TypeRule, 12> kTypeRules{{
    {".js", "text/javascript"},
    {".json", "application/json"},
    {".svg", "image/svg+xml"},
    {".jpg", "image/jpeg"},
    {".jpeg", "image/jpeg"},
    {".gif", "image/gif"},
    {".txt", "text/plain"},
    {".woff2", "font/woff2"},
    {".ico", "image/x-icon"},
    {".png", "image/png"},
    {".css", "text/css"},
    {".html", "text/html"},
}};

bool ClimbsUp(std::string_view segment) {
  // "..", and what Windows reads as "..": trailing dots and blanks of a
  // segment are dropped there, so "...", ".. " and ". ." climb too.
  std::size_t dots = 0;
  for (const char c : segment) {
    if (c == '.') {
      ++dots;
    } else if (c != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

}  // namespace

LoadWeb::LoadWeb(std::string webRoot) : webRoot_(std::move(webRoot)) {}

std::string LoadWeb::ContentTypeFor(std::string_view path) {
  std::string_view type;
  for (const TypeRule& rule : kTypeRules) {
    if (path.find(rule.extension) != std::string_view::npos) type = rule.contentType;
  }
  return std::string(type);
}

bool LoadWeb::StaysInsideRoot(std::string_view path) {
  if (path.empty() || path.front() != '/') return false;
  if (path.find('\0') != std::string_view::npos) return false;
  if (path.find(':') != std::string_view::npos) return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = path.find_first_of("/\\", start);
    const std::string_view segment =
        path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (ClimbsUp(segment)) return false;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return true;
}

void LoadWeb::Serve(HttpResponse& response, std::string path) const {
  if (path == "/") path = "/index.html";
  if (path == "/favicon.ico") path = "/images/favicon.ico";

  FileStream file;
  if (StaysInsideRoot(path)) file = FileStream::OpenRegular(webRoot_ + path);
  if (!file) {
    // Whatever the path's extension: "text/html".
    response = StatusReply(404, "404 Not Found");
    return;
  }
  response.file = std::move(file);
  response.contentType = ContentTypeFor(path);
  response.charset = "utf-8";
}

}  // namespace ktr
