// `ktr-cli serve` end to end: the simulated device on a pty, the headless
// server in its own process, real HTTP over loopback, and a clean stop.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <tuple>

#include "http_client.h"
#include "ktr_register_map.h"
#include "run_process.h"
#include "sim_process.h"
#include "spawned_process.h"

namespace {

using ktr::test::Get;
using ktr::test::SpawnedProcess;

class ServeCli : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() / ("ktr-serve-" + std::to_string(getpid()));
    std::filesystem::create_directories(root_);
    std::ofstream(root_ / "index.html") << "<!doctype html><title>KTR</title>";
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  std::unique_ptr<SpawnedProcess> Serve(std::vector<std::string> extra) {
    std::vector<std::string> args = {"serve",       "--port", sim_.link(),   "--listen",
                                     "127.0.0.1:0", "--web",  root_.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return std::make_unique<SpawnedProcess>(KTR_CLI_PATH, args,
                                            "listening on http://127.0.0.1:", std::chrono::seconds(30));
  }

  ktr::test::SimProcess sim_{{"--address", "3"}};
  std::filesystem::path root_;
};

TEST_F(ServeCli, SearchesServesAndStopsCleanly) {
  auto server = Serve({});
  const std::uint16_t port = ktr::test::ListeningPort(server->readyLine());

  const auto page = Get(port, "/");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, "<!doctype html><title>KTR</title>");
  EXPECT_EQ(page.Header("Server"), "WebServerOrvo");

  const auto web = Get(port, "/get_web_data.cgi");
  EXPECT_EQ(web.status, 200);
  EXPECT_NE(web.body.find(std::string(ktr::defaults::kFirmwareTextNew)), std::string::npos) << web.body;

  const auto display = Get(port, "/get_display_data.cgi");
  EXPECT_EQ(display.status, 200);
  EXPECT_EQ(display.body.rfind("{\"tmpe\":", 0), 0U) << display.body;

  EXPECT_EQ(server->Stop(SIGTERM), 0);
}

TEST_F(ServeCli, GivenAddressSkipsTheSearchAndReadsTheFirmware) {
  // The device at the address: no search, but its firmware is read as a
  // search reads it, so that the pages compare files with it. A silent
  // address is served all the same, without a firmware.
  for (const auto& [address, firmware] :
       {std::pair{"3", std::string(ktr::defaults::kFirmwareTextNew)}, std::pair{"5", std::string()}}) {
    auto server = Serve({"--address", address});
    const std::uint16_t port = ktr::test::ListeningPort(server->readyLine());
    EXPECT_EQ(Get(port, "/get_web_data.cgi").body, "{\"firmware\":\"" + firmware + "\"}") << address;
    const auto chosen = Get(port, "/find_all.cgi");
    EXPECT_NE(chosen.body.find("\"device\":{\"address\":" + std::string(address)), std::string::npos)
        << chosen.body;
    const auto login = Get(port, "/login.cgi?login_pssw:pelko");
    EXPECT_EQ(login.body, "{\"answer\":\"yes\"}");
    EXPECT_EQ(server->Stop(SIGINT), 0);
  }
}

// Without --web: the folder "Web" beside the executable, else the installed
// pages (BIN/../share/ktr-configurator/Web), else "Web" beside it again (404).
// A copy of ktr-cli in a made-up install tree, so that /proc/self/exe points
// there.
TEST_F(ServeCli, WithoutWebServesBesideElseTheInstalledPages) {
  namespace fs = std::filesystem;
  const fs::path bin = root_ / "bin";
  const fs::path beside = bin / "Web";
  const fs::path installed = root_ / "share" / "ktr-configurator" / "Web";
  fs::create_directories(bin);
  fs::copy_file(KTR_CLI_PATH, bin / "ktr-cli");
  struct {
    bool beside, installed;
    fs::path root;
    int status;
    std::string body;
  } const cases[] = {
      {false, true, installed, 200, "installed"},
      {true, true, beside, 200, "beside"},
      {false, false, beside, 404, "404 Not Found"},
  };
  for (const auto& c : cases) {
    fs::remove_all(beside);
    fs::remove_all(installed);
    for (const auto& [wanted, folder, text] :
         {std::tuple{c.beside, beside, "beside"}, std::tuple{c.installed, installed, "installed"}}) {
      if (!wanted) continue;
      fs::create_directories(folder);
      std::ofstream(folder / "index.html") << text;
    }
    SpawnedProcess server((bin / "ktr-cli").string(),
                          {"serve", "--port", sim_.link(), "--address", "3", "--listen", "127.0.0.1:0"},
                          "listening on http://127.0.0.1:");
    EXPECT_NE(server.readyLine().find("(web root " + c.root.lexically_normal().string() + ")"),
              std::string::npos)
        << server.readyLine();
    const auto page = Get(ktr::test::ListeningPort(server.readyLine()), "/");
    EXPECT_EQ(page.status, c.status) << c.root;
    EXPECT_EQ(page.body, c.body) << c.root;
    EXPECT_EQ(server.Stop(SIGTERM), 0);
  }
}

TEST(ServeCliNoDevice, NothingOnTheBusExitsOne) {
  const auto r = ktr::test::RunProcess(
      KTR_CLI_PATH, {"serve", "--port", "/dev/ktr-no-such-port", "--listen", "127.0.0.1:0"});
  EXPECT_EQ(r.exitCode, 1);
  // Each failed open: the fixed line, then the system's reason and a hint.
  EXPECT_NE(r.err.find(" Error open port !!!\n"), std::string::npos);
  const std::size_t reason = r.err.find(
      " open /dev/ktr-no-such-port: No such file or directory: the adapter is "
      "unplugged or the port has another name (ktr-cli ports lists them)\n");
  ASSERT_NE(reason, std::string::npos) << r.err;
  EXPECT_LT(r.err.find(" Error open port !!!\n"), reason);
  EXPECT_NE(r.err.find("Please check the device connection"), std::string::npos);
  EXPECT_EQ(r.out, "");
}

}  // namespace
