// Which requests the guard lets through to the endpoints and files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "request_guard.h"
#include "web_fixture.h"

namespace {

using ktr::HttpRequest;
using ktr::RequestGuard;

struct Case {
  const char* host;
  const char* origin;
  const char* secFetchSite;
  bool endpoint;
  bool allowed;
};

TEST(RequestGuard, HostOriginAndFetchSite) {
  const Case cases[] = {
      // Clients without Origin (curl, scripts, older browsers' plain GETs).
      {"localhost", "", "", true, true},
      {"localhost:8080", "", "", true, true},
      {"127.0.0.1", "", "", true, true},
      {"127.0.0.1:80", "", "", true, true},
      {"127.1.2.3", "", "", true, true},
      {"[::1]:8080", "", "", true, true},
      {"LOCALHOST", "", "", true, true},
      {"app.localhost", "", "", true, true},
      {"", "", "", true, true},  // HTTP/1.0 without Host
      // The bundled pages: same origin.
      {"localhost", "http://localhost", "same-origin", true, true},
      {"localhost:8080", "http://localhost:8080", "same-origin", true, true},
      {"localhost", "http://localhost:80", "", true, true},
      {"[::1]:8080", "http://[::1]:8080", "", true, true},
      // Another site's page.
      {"localhost", "http://evil.example", "cross-site", true, false},
      {"localhost", "http://evil.example", "", true, false},
      {"localhost", "", "cross-site", true, false},
      {"localhost", "null", "", true, false},
      {"localhost", "https://localhost", "", true, false},
      {"localhost:8080", "http://localhost:3000", "same-site", true, false},
      {"localhost", "http://127.0.0.1", "", true, false},
      // Files may be fetched by other sites' pages (they hold no device data)...
      {"localhost", "http://evil.example", "cross-site", false, true},
      // ...but not through a name that is not this machine (DNS rebinding).
      {"evil.example", "", "", false, false},
      {"evil.example", "http://evil.example", "same-origin", true, false},
      {"evil.example:80", "", "", true, false},
      {"8.8.8.8", "", "", true, false},
      {"localhost.evil.example", "", "", true, false},
      {"[::1", "", "", true, false},
  };
  RequestGuard guard;
  for (const Case& c : cases) {
    HttpRequest request;
    request.method = "GET";
    request.target = c.endpoint ? "/setdata.cgi?diad=5" : "/index.html";
    request.host = c.host;
    request.origin = c.origin;
    request.secFetchSite = c.secFetchSite;
    const std::string reason = guard.Check(request, c.endpoint);
    EXPECT_EQ(reason.empty(), c.allowed) << "host '" << c.host << "' origin '" << c.origin << "' fetch-site '"
                                         << c.secFetchSite << "' endpoint " << c.endpoint << ": " << reason;
  }
}

TEST(RequestGuard, TheMachinesOwnNameIsThisMachine) {
  char name[256] = {};
  ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
  EXPECT_TRUE(RequestGuard::IsThisMachine(name));
  EXPECT_TRUE(RequestGuard::IsThisMachine(std::string(name) + ":80"));
  EXPECT_FALSE(RequestGuard::IsThisMachine(std::string(name) + ".evil.example"));
}

}  // namespace

// Over HTTP: a page of another site cannot change the device, a rebinding
// host name gets nothing, the bundled pages and curl-like clients work.
namespace {

using ktr::test::Exchange;

class GuardOverHttp : public ktr::test::WebDeviceTest {
 protected:
  std::string Send(const std::string& headers, const std::string& body) {
    const std::string request = "POST /setdata.cgi HTTP/1.1\r\n" + headers +
                                "Content-Type: application/x-www-form-urlencoded\r\n"
                                "Content-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    return Exchange(port_, request).statusLine;
  }
};

TEST_F(GuardOverHttp, CrossSiteWritesAreRefusedAndLogged) {
  const std::uint16_t before = ReadSim(10000, 1)[0];
  const std::string host = "Host: 127.0.0.1:" + std::to_string(port_) + "\r\n";
  const std::string value = std::to_string(before == 7 ? 8 : 7);

  EXPECT_EQ(Send(host + "Origin: http://evil.example\r\nSec-Fetch-Site: cross-site\r\n", "tmpe=" + value),
            "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(Send("Host: evil.example\r\n", "tmpe=" + value), "HTTP/1.1 403 Forbidden");
  EXPECT_EQ(ReadSim(10000, 1)[0], before);  // nothing written
  const auto log = TakeLog();
  ASSERT_EQ(log.size(), 2U);
  EXPECT_EQ(log[0].rfind("Refused POST /setdata.cgi: ", 0), 0U) << log[0];

  // The bundled pages (same origin) and clients without Origin pass.
  const std::string origin = "Origin: http://127.0.0.1:" + std::to_string(port_) + "\r\n";
  EXPECT_EQ(Send(host + origin + "Sec-Fetch-Site: same-origin\r\n", "tmpe=" + value), "HTTP/1.1 200 OK");
  EXPECT_EQ(ReadSim(10000, 1)[0], std::stoi(value));
  EXPECT_EQ(Send(host, "tmpe=" + std::to_string(before)), "HTTP/1.1 200 OK");
  EXPECT_EQ(ReadSim(10000, 1)[0], before);
}

}  // namespace
