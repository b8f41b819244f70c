#include "http_message.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace ktr {

FileStream FileStream::OpenRegular(const std::string& path) {
  FileStream stream;
  // Check the kind before opening: opening a FIFO for reading would block
  // until some writer appears, and fopen() of a folder succeeds on Linux.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(std::filesystem::path(path), ec)) return stream;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return stream;
  stream.file_.reset(file);
  // Check again on the open file, which is what will be sent.
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
    stream.file_.reset();
    return stream;
  }
  stream.size_ = static_cast<std::uint64_t>(info.st_size);
  return stream;
}

HttpResponse StatusReply(int status, std::string text, std::string charset) {
  HttpResponse response;
  response.status = status;
  response.contentType = "text/html";
  response.charset = std::move(charset);
  response.text = std::move(text);
  return response;
}

std::string ContentTypeHeader(const std::string& contentType, const std::string& charset) {
  const std::string type = contentType.empty() ? std::string("text/html") : contentType;
  std::string set = charset;
  if (set.empty()) {
    if (contentType.empty()) {
      set = "utf-8";
    } else if (contentType.rfind("text/", 0) == 0) {
      set = "ISO-8859-1";
    }
  }
  if (set.empty()) return type;
  return type + "; charset=" + set;
}

std::string ReasonPhrase(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Unknown";
  }
}

std::string DefaultPage(int status) {
  const std::string title = std::to_string(status) + " " + ReasonPhrase(status);
  return "<!DOCTYPE html><html><head><title>" + title + "</title></head><body><h1>" + title +
         "</h1></body></html>";
}

}  // namespace ktr
