// Files from the web root through the whole web service: content types and
// character sets on the wire, exact bytes and lengths, the two path
// substitutions, 404, and requests that try to leave the web root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "load_web.h"
#include "web_fixture.h"

namespace ktr::test {
namespace {

struct FileCase {
  std::string target;
  std::string file;  // below the web root
  std::string contentType;
};

TEST_F(WebServiceTest, FilesAreServedWithTheirTypeAndExactBytes) {
  const std::vector<FileCase> cases{
      {"/", "index.html", "text/html; charset=utf-8"},
      {"/index.html", "index.html", "text/html; charset=utf-8"},
      {"/index.html?x=1", "index.html", "text/html; charset=utf-8"},
      {"/%69ndex.html", "index.html", "text/html; charset=utf-8"},
      {"/index.html%00.png", "index.html", "text/html; charset=utf-8"},  // a text ends at a zero byte
      {"/favicon.ico", "images/favicon.ico", "image/x-icon; charset=utf-8"},
      {"/images/favicon.ico", "images/favicon.ico", "image/x-icon; charset=utf-8"},
      {"/img/logo.png", "img/logo.png", "image/png; charset=utf-8"},
      {"/img/x.png.html", "img/x.png.html", "text/html; charset=utf-8"},  // ".html" is tested last
      {"/css/site.css", "css/site.css", "text/css; charset=utf-8"},
      {"/js/main.js", "js/main.js", "text/javascript; charset=utf-8"},
      {"/data/list.json", "data/list.json", "application/json; charset=utf-8"},
      {"/pics/clock.svg", "pics/clock.svg", "image/svg+xml; charset=utf-8"},
      {"/pics/photo.jpg", "pics/photo.jpg", "image/jpeg; charset=utf-8"},
      {"/pics/photo.jpeg", "pics/photo.jpeg", "image/jpeg; charset=utf-8"},
      {"/pics/anim.gif", "pics/anim.gif", "image/gif; charset=utf-8"},
      {"/fonts/a.woff2", "fonts/a.woff2", "font/woff2; charset=utf-8"},
      {"/docs/readme.txt", "docs/readme.txt", "text/plain; charset=utf-8"},
      {"/docs/file.bin", "docs/file.bin", "text/html; charset=utf-8"},  // no type: the default
      {"/empty.html", "empty.html", "text/html; charset=utf-8"},
      {"/a%20b.html", "a b.html", "text/html; charset=utf-8"},
      {"/big.png", "big.png", "image/png; charset=utf-8"},
  };
  for (const FileCase& c : cases) {
    const std::string bytes = root_.Read(c.file);
    const Reply reply = Get(c.target);
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 200 OK") << c.target;
    EXPECT_EQ(reply.Header("Content-Type"), c.contentType) << c.target;
    EXPECT_EQ(reply.Header("Content-Length"), std::to_string(bytes.size())) << c.target;
    EXPECT_EQ(reply.Header("Server"), "WebServerOrvo") << c.target;
    EXPECT_TRUE(reply.body == bytes) << c.target << ": " << reply.body.size() << " bytes";
    EXPECT_EQ(reply.HeaderCount("Last-Modified") + reply.HeaderCount("ETag") +
                  reply.HeaderCount("Cache-Control") + reply.HeaderCount("Accept-Ranges"),
              0u)
        << c.target;
  }
}

TEST_F(WebServiceTest, ContentTypeTableKeepsTheOrderOfItsHits) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"/a.png.html", "text/html"},    {"/a.html.png", "text/html"},   {"/a.css.png", "text/css"},
      {"/a.ico.png", "image/png"},     {"/a.png.ico", "image/png"},    {"/a.js", "text/javascript"},
      {"/a.json", "application/json"}, {"/a.js.png", "image/png"},     {"/a.html.js", "text/html"},
      {"/a.svg.css", "text/css"},      {"/x.icon.js", "image/x-icon"}, {"/readme", ""},
      {"/a.txt.woff2", "font/woff2"},  {"/a.jpg", "image/jpeg"},
  };
  for (const auto& [path, type] : cases) {
    EXPECT_EQ(LoadWeb::ContentTypeFor(path), type) << path;
  }
}

TEST_F(WebServiceTest, MissingFilesAndFoldersGet404) {
  for (const std::string target : {"/nothing.png", "/nothing", "/folder.html", "/img", "/img/", "/Index.html",
                                   "/images/", "/index.html/", "/%", "/%zz.png"}) {
    const Reply reply = Get(target);
    EXPECT_EQ(reply.raw,
              "HTTP/1.1 404 Not Found\r\n"
              "Server: WebServerOrvo\r\n"
              "Content-Type: text/html; charset=utf-8\r\n"
              "Content-Length: 13\r\n"
              "Connection: close\r\n"
              "\r\n"
              "404 Not Found")
        << target;
  }
}

TEST_F(WebServiceTest, NothingOutsideTheWebRootIsEverServed) {
  const std::string base = root_.base();  // absolute, starts with "/"
  const std::vector<std::string> targets{
      "/../secret.txt",
      "/img/../../secret.txt",
      "/%2e%2e/secret.txt",
      "/%2E%2E/secret.txt",
      "/.%2e/secret.txt",
      "/%2e%2e%2fsecret.txt",
      "/..%2fsecret.txt",
      "/img/%2e%2e/%2e%2e/secret.txt",
      "/..\\secret.txt",
      "/..%5csecret.txt",
      "/img\\..\\..\\secret.txt",
      "/img%5c..%5c..%5csecret.txt",
      "/../Web-private/secret.txt",
      "/%2e%2e/Web-private/secret.txt",
      "//../secret.txt",
      "/.../secret.txt",
      "/.. /secret.txt",
      "/..%00/secret.txt",
      "../secret.txt",
      "-private/secret.txt",
      "%2e%2e/secret.txt",
      "/" + base + "/secret.txt",
      base + "/secret.txt",
      "/C:/secret.txt",
      "/secret.txt",
      "http://127.0.0.1/../secret.txt",
      "http://127.0.0.1/%2e%2e/secret.txt",
  };
  for (const std::string& target : targets) {
    const Reply reply = Get(target);
    EXPECT_NE(reply.raw.find("HTTP/1.1 4"), std::string::npos) << target;
    EXPECT_EQ(reply.raw.find(TempWebRoot::kSecret), std::string::npos) << target;
  }
  // The path ends at a decoded zero byte: what is left is "/", the index.
  EXPECT_EQ(Get("/%00/../secret.txt").body, root_.Read("index.html"));
  // Inside the root a ".." would still be refused, even though it stays in.
  EXPECT_EQ(Get("/img/../index.html").status, 404);
}

TEST_F(WebServiceTest, StaysInsideRootRule) {
  const std::vector<std::pair<std::string, bool>> cases{
      {"/index.html", true}, {"/a/b/c.png", true}, {"/.hidden", true},
      {"/a..b.html", true},  {"/..a", true},       {"/./index.html", true},
      {"/..", false},        {"/../x", false},     {"/a/../x", false},
      {"/a\\..\\x", false},  {"/...", false},      {"/. .", false},
      {"/.. ", false},       {"x", false},         {"", false},
      {"/C:/x", false},      {"/x::$DATA", false}, {std::string("/a\0b", 4), false},
  };
  for (const auto& [path, inside] : cases) {
    EXPECT_EQ(LoadWeb::StaysInsideRoot(path), inside) << path;
  }
}

TEST_F(WebServiceTest, HeadGets400HeadersOnly) {
  for (const std::string target : {"/index.html", "/", "/get_web_data.cgi", "/nothing"}) {
    const Reply reply = Request(port_, "HEAD", target);
    EXPECT_EQ(reply.raw,
              "HTTP/1.1 400 Bad Request\r\n"
              "Server: WebServerOrvo\r\n"
              "Content-Type: text/html; charset=ISO-8859-1\r\n"
              "Content-Length: 15\r\n"
              "Connection: close\r\n"
              "\r\n")
        << target;
  }
}

TEST_F(WebServiceTest, PostToAFilePathGetsTheDefaultPage) {
  for (const std::string target : {"/index.html", "/", "/nothing.png", "/../secret.txt"}) {
    const Reply reply = Request(port_, "POST", target, "application/x-www-form-urlencoded", "a=1");
    EXPECT_EQ(reply.status, 200) << target;
    EXPECT_EQ(reply.body, DefaultPage(200)) << target;
    EXPECT_EQ(reply.Header("Content-Type"), "text/html; charset=utf-8") << target;
  }
}

TEST_F(WebServiceTest, OtherMethodsGetTheDefaultPage) {
  for (const std::string method : {"PUT", "DELETE", "OPTIONS", "CONNECT", "PROPFIND"}) {
    const Reply reply = Request(port_, method, "/index.html");
    EXPECT_EQ(reply.status, 200) << method;
    EXPECT_EQ(reply.body, DefaultPage(200)) << method;
  }
}

TEST_F(WebServiceTest, LongPathIsCutTo199Bytes) {
  // A 198-character name: "/" + name is 199 bytes, the whole path buffer.
  const std::string name = std::string(194, 'f') + ".png";
  root_.Write(name, "cut path");
  const std::string target = "/" + name + std::string(51, 'z');
  ASSERT_EQ(target.size(), 250u);
  Reply reply = Get(target);
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "cut path");
  EXPECT_EQ(reply.Header("Content-Type"), "image/png; charset=utf-8");

  // Escapes count after decoding: "%66" is one byte.
  reply = Get("/%66" + name.substr(1) + "%7a%7a");
  EXPECT_EQ(reply.body, "cut path");

  // One byte short of the name: no such file.
  root_.Write(name.substr(0, 197), "other");
  EXPECT_EQ(Get("/" + name.substr(0, 197)).body, "other");
}

TEST_F(WebServiceTest, FilesAreServedWhileOthersWait) {
  // Five silent connections hold every connection thread; the sixth request
  // waits in the backlog and is served when the first ones are closed.
  std::vector<std::unique_ptr<ClientSocket>> silent;
  for (int i = 0; i < 5; ++i) silent.push_back(std::make_unique<ClientSocket>(port_));
  ClientSocket waiting(port_);
  waiting.Send("GET /index.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  EXPECT_FALSE(waiting.WaitReadable(300ms));
  silent.clear();
  const Reply reply = ParseReply(waiting.ReadToClose(20s));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, root_.Read("index.html"));
}

}  // namespace
}  // namespace ktr::test
