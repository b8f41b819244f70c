// LoadWeb: answers file requests from the web root folder (the pages, style
// sheets, scripts and pictures of the configurator). Only regular files below
// the root are sent, byte for byte; anything else is "404 Not Found".
#pragma once

#include <string>
#include <string_view>

#include "http_message.h"

namespace ktr {

class LoadWeb {
 public:
  // `webRoot`: the folder that holds the pages (the program passes the
  // folder of its executable + "/Web").
  explicit LoadWeb(std::string webRoot);

  // Fills `response` for the path buffer `path` (decoded, see RequestPath):
  // "/" serves "/index.html" and "/favicon.ico" serves "/images/favicon.ico";
  // the file's bytes with status 200, or 404 with "404 Not Found" and
  // "text/html" when it cannot be opened (missing, a folder, not allowed) or
  // the path leaves the web root. The type follows ContentTypeFor; the
  // character set is "utf-8" on every reply.
  void Serve(HttpResponse& response, std::string path) const;

  // The content type for a path: each extension of the table is searched
  // anywhere in the path, in table order, and each hit overrides the one
  // before. The four classic ones (".ico", ".png", ".css", ".html") come
  // last, so they decide every path that holds one of them. Empty when none
  // matches (the server then sends "text/html").
  static std::string ContentTypeFor(std::string_view path);

  // False for a path that could name something outside the web root: not
  // starting with "/", a ".." segment ("/" and "\" both separate segments;
  // Windows also takes ".. " or "..." as ".."), a ":" (drive letters,
  // alternate data streams) or a zero byte.
  static bool StaysInsideRoot(std::string_view path);

 private:
  std::string webRoot_;
};

}  // namespace ktr
