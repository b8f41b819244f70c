// The request and response of one HTTP exchange as the request handlers see
// them: plain data, no socket types. The server (http_server.h) reads the
// request into HttpRequest and writes HttpResponse to the wire.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace ktr {

struct HttpRequest {
  std::string method;         // as sent, e.g. "GET" (methods are case-sensitive)
  std::string target;         // raw request target, e.g. "/a%20b.html?x=1"
  std::string contentType;    // value of the Content-Type header, or empty
  std::string body;           // the whole body (chunked bodies already joined)
  std::string host;           // Host header, or empty
  std::string origin;         // Origin header, or empty
  std::string secFetchSite;   // Sec-Fetch-Site header, or empty
  std::string expectAddress;  // X-Expect-Address header, or empty
};

// An open file handed to the server as a response body. The server sends its
// bytes unchanged and closes it after sending (or when the response is
// dropped).
class FileStream {
 public:
  FileStream() = default;
  // Opens `path` for reading when it names a regular file. Returns an empty
  // stream (operator bool false) for a missing file, a folder, a device or
  // anything else that cannot be opened.
  static FileStream OpenRegular(const std::string& path);

  explicit operator bool() const { return file_ != nullptr; }
  std::uint64_t size() const { return size_; }
  // The open file, still owned by the stream.
  std::FILE* get() const { return file_.get(); }

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
  std::uint64_t size_ = 0;
};

struct HttpResponse {
  int status = 200;
  // Empty: the server sends "text/html". See ContentTypeHeader.
  std::string contentType;
  std::string charset;
  // The body text. When neither text nor file is set, the server sends its
  // own short page for the status. An empty text is an empty body.
  std::optional<std::string> text;
  FileStream file;
  // Sent as the X-Device-Status header when not empty: what the device did
  // while the reply was built ("ok", "no-reply SET_10000_10005", ...).
  std::string deviceStatus;
  // Sent as the X-Device-Address header when not 0: the bus address of the
  // device that the reply's requests went to.
  int deviceAddress = 0;
};

// The Content-Type header for a response: the type (or "text/html" when
// empty) followed by "; charset=" and the character set. Without a character
// set, an empty type gets "utf-8" and a "text/..." type gets "ISO-8859-1" (the
// HTTP/1.1 default for text types); other types are sent without one.
std::string ContentTypeHeader(const std::string& contentType, const std::string& charset);

// A reply that says only how the request ended: `status` with `text` as its
// "text/html" body, in the character set "utf-8". An empty `charset` leaves
// the type without one, which the wire shows as ISO-8859-1 (see
// ContentTypeHeader): so go the 400 to a HEAD and the 404 of an unknown
// endpoint.
HttpResponse StatusReply(int status, std::string text, std::string charset = "utf-8");

// The server's own short HTML page for a status, used when a response has no
// body of its own (for example "200 OK" for a POST to a file path).
std::string DefaultPage(int status);

// The reason phrase of a status code ("OK", "Not Found", ...).
std::string ReasonPhrase(int status);

}  // namespace ktr
