#include "web_root.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace ktr::test {

namespace fs = std::filesystem;

namespace {

// Bytes of every value, including zero bytes and CR LF pairs, so that any
// change on the way shows.
std::string BinaryBytes(std::size_t size, unsigned offset) {
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i) {
    bytes.push_back(static_cast<char>((i * 31 + offset) & 0xFF));
  }
  bytes += std::string("\r\n\0\r\n\r\n", 7);
  return bytes;
}

}  // namespace

TempWebRoot::TempWebRoot() {
  std::string pattern = (fs::temp_directory_path() / "ktr-web-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  base_ = buffer.data();
  root_ = base_ + "/Web";
  fs::create_directories(root_);

  Write("index.html", "<!DOCTYPE html><html><body>KTR index</body></html>\n");
  Write("images/favicon.ico", BinaryBytes(318, 7));
  Write("img/logo.png", BinaryBytes(3000, 1));
  Write("img/x.png.html", "<p>png.html</p>");
  Write("css/site.css", "body { color: #123; }\n");
  Write("js/main.js", "console.log('ktr');\n");
  Write("data/list.json", "[1,2,3]");
  Write("pics/clock.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>");
  Write("pics/photo.jpg", BinaryBytes(100, 3));
  Write("pics/photo.jpeg", BinaryBytes(101, 4));
  Write("pics/anim.gif", BinaryBytes(102, 5));
  Write("fonts/a.woff2", BinaryBytes(103, 6));
  Write("docs/readme.txt", "plain text");
  Write("docs/file.bin", "no type");
  Write("empty.html", "");
  Write("big.png", BinaryBytes(300 * 1024, 9));
  Write("a b.html", "blank in the name");
  fs::create_directories(root_ + "/folder.html");

  // Outside the root: above it, and a sibling whose name starts with "Web".
  std::ofstream(base_ + "/secret.txt", std::ios::binary) << kSecret;
  fs::create_directories(base_ + "/Web-private");
  std::ofstream(base_ + "/Web-private/secret.txt", std::ios::binary) << kSecret;
}

TempWebRoot::~TempWebRoot() {
  std::error_code ec;
  fs::remove_all(base_, ec);
}

void TempWebRoot::Write(std::string_view relative, std::string_view content) const {
  const fs::path path = fs::path(root_) / relative;
  fs::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary);
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string TempWebRoot::Read(std::string_view relative) const {
  std::ifstream file(fs::path(root_) / relative, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace ktr::test
