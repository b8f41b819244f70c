// The front end's two buffers (path and parameters) and its dispatch, both
// as functions and on the wire through /login.cgi, which answers "yes" only
// when its parameter text holds "login_pssw:pelko".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http_request_parser.h"
#include "web_fixture.h"

namespace ktr::test {
namespace {

constexpr std::string_view kYes = R"({"answer":"yes"})";
constexpr std::string_view kNo = R"({"answer":"no"})";
constexpr std::string_view kLogin = "login_pssw:pelko";

TEST(RequestPathTest, PathIsDecodedWithoutQueryAndEndsAtZero) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"/index.html", "/index.html"},
      {"/index.html?x=1", "/index.html"},
      {"/a?b?c", "/a"},
      {"/?", "/"},
      {"/a%20b", "/a b"},
      {"/a+b", "/a+b"},
      {"/%2e%2E/x", "/../x"},
      {"/%41%4a%4A", "/AJJ"},
      {"/%", "/%"},
      {"/%4", "/%4"},
      {"/%zz%4g", "/%zz%4g"},
      {"/%2541", "/%41"},
      {"/a%00b", "/a"},
      {"/%c3%a9", "/\xc3\xa9"},
      {"/get_sched_data.cgi&sun", "/get_sched_data.cgi&sun"},
      {"/get_index_data.cgi?t=1", "/get_index_data.cgi"},
      {"/a%3Fb?c", "/a?b"},
      {"http://host:80/x.html?y", "/x.html"},
      {"HTTP://host", "/"},
      {"", ""},
  };
  for (const auto& [target, path] : cases) {
    EXPECT_EQ(RequestPath(target), path) << target;
  }
  EXPECT_EQ(RequestPath("/" + std::string(300, 'p')), "/" + std::string(198, 'p'));
  EXPECT_EQ(RequestPath("/" + std::string(300, 'p') + "?q").size(), kRequestTextLimit);
  // Cut after decoding: 199 decoded bytes from 3 * 199 escaped ones.
  std::string escaped;
  for (int i = 0; i < 250; ++i) escaped += "%41";
  EXPECT_EQ(RequestPath(escaped), std::string(199, 'A'));
}

TEST(RequestPathTest, QueryIsTheRawTextAfterTheFirstQuestionMark) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"/login.cgi?abc", "abc"},         {"/x", ""},        {"/x?", ""},
      {"/x?a=1&b=%41+c", "a=1&b=%41+c"}, {"/x?a?b", "a?b"}, {"/x%3Fa=1", ""},
  };
  for (const auto& [target, query] : cases) {
    EXPECT_EQ(QueryParameters(target), query) << target;
  }
  EXPECT_EQ(QueryParameters("/x?" + std::string(250, 'q')), std::string(199, 'q'));
}

TEST(RequestPathTest, FormBodyOnlyForFormMediaType) {
  const std::vector<std::pair<std::string, bool>> types{
      {"application/x-www-form-urlencoded", true},
      {"application/x-www-form-urlencoded; charset=UTF-8", true},
      {"application/x-www-form-urlencoded;charset=utf-8", true},
      {"Application/X-WWW-Form-Urlencoded", true},
      {"  application/x-www-form-urlencoded  ; a=b", true},
      {"text/plain", false},
      {"multipart/form-data; boundary=xyz", false},
      {"application/json", false},
      {"application/x-www-form-urlencodedx", false},
      {"", false},
  };
  for (const auto& [type, form] : types) {
    EXPECT_EQ(FormParameters(type, "a=1&b=%41"), form ? "a=1&b=%41" : "") << type;
  }
  EXPECT_EQ(FormParameters("application/x-www-form-urlencoded", std::string(250, 'b')),
            std::string(199, 'b'));
  EXPECT_EQ(FormParameters("application/x-www-form-urlencoded", std::string("ab\0cd", 5)), "ab");
}

TEST_F(WebServiceTest, GetQueryIsTheParameterText) {
  EXPECT_EQ(Get("/login.cgi?login_pssw:pelko").body, kYes);
  EXPECT_EQ(Get("/login.cgi?a=1&login_pssw:pelko&b=2").body, kYes);
  EXPECT_EQ(Get("/login.cgi?abc").body, kNo);
  EXPECT_EQ(Get("/login.cgi").body, kNo);
  EXPECT_EQ(Get("/login.cgi?login_pssw%3Apelko").body, kNo);  // no percent-decoding
  EXPECT_EQ(Get("/login.cgi?login_pssw=pelko").body, kNo);
}

TEST_F(WebServiceTest, FormBodyIsTheParameterTextOnlyForFormMediaType) {
  const std::vector<std::pair<std::string, std::string_view>> cases{
      {"application/x-www-form-urlencoded", kYes},
      {"application/x-www-form-urlencoded; charset=UTF-8", kYes},
      {"APPLICATION/X-WWW-FORM-URLENCODED", kYes},
      {"text/plain", kNo},
      {"text/plain; charset=UTF-8", kNo},
      {"multipart/form-data; boundary=b", kNo},
      {"application/json", kNo},
      {"", kNo},
  };
  for (const auto& [type, answer] : cases) {
    const Reply reply = Request(port_, "POST", "/login.cgi", type, kLogin);
    EXPECT_EQ(reply.status, 200) << type;
    EXPECT_EQ(reply.body, answer) << type;
  }
  // The query of a POST is not its parameter text.
  EXPECT_EQ(Request(port_, "POST", "/login.cgi?login_pssw:pelko", "text/plain", "x").body, kNo);
}

TEST_F(WebServiceTest, ParameterTextIsCutTo199Bytes) {
  // The login text ends at byte 199: kept. One byte later: cut off.
  const std::string fits = std::string(199 - kLogin.size(), 'p') + std::string(kLogin);
  const std::string cut = "p" + fits;
  ASSERT_EQ(fits.size(), 199u);
  EXPECT_EQ(Get("/login.cgi?" + fits).body, kYes);
  EXPECT_EQ(Get("/login.cgi?" + cut).body, kNo);
  const std::string form = "application/x-www-form-urlencoded";
  EXPECT_EQ(Request(port_, "POST", "/login.cgi", form, fits).body, kYes);
  EXPECT_EQ(Request(port_, "POST", "/login.cgi", form, cut + std::string(50, 'x')).body, kNo);
}

TEST_F(WebServiceTest, ParameterTextEndsAtAZeroByte) {
  const std::string form = "application/x-www-form-urlencoded";
  EXPECT_EQ(Request(port_, "POST", "/login.cgi", form, std::string("a\0login_pssw:pelko", 18)).body, kNo);
  EXPECT_EQ(Request(port_, "POST", "/login.cgi", form, std::string("login_pssw:pelko\0x", 18)).body, kYes);
}

TEST_F(WebServiceTest, CgiTestIsASubstringSearchOnTheDecodedPath) {
  // ".cgi" anywhere sends the request to the route table (404 there), never
  // to a file, even when the file exists.
  root_.Write("a.cgi.png", "png bytes");
  Reply reply = Get("/a.cgi.png");
  EXPECT_EQ(reply.status, 404);
  EXPECT_EQ(reply.Header("Content-Type"), "text/html; charset=ISO-8859-1");
  // An escaped ".cgi" is decoded before the test.
  EXPECT_EQ(Get("/login%2ecgi?login_pssw:pelko").body, kYes);
  EXPECT_EQ(Get("/%6cogin.cgi").body, kNo);
}

}  // namespace
}  // namespace ktr::test
