// Which requests the guard lets through to the endpoints and files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "request_guard.h"

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
    EXPECT_EQ(reason.empty(), c.allowed)
        << "host '" << c.host << "' origin '" << c.origin << "' fetch-site '" << c.secFetchSite
        << "' endpoint " << c.endpoint << ": " << reason;
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
