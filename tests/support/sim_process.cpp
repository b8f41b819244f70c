#include "sim_process.h"

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace ktr::test {
namespace {

std::string MakeTemporaryFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "ktr-sim-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error(std::string("cannot create a temporary folder: ") + std::strerror(errno));
  }
  return pattern;
}

}  // namespace

std::string SimProcess::BinaryPath() { return KTR_SIM_PATH; }

SimProcess::SimProcess(std::vector<std::string> args, std::string link) : link_(std::move(link)) {
  const auto port = std::find(args.begin(), args.end(), "--port");
  const bool tcp = std::find(args.begin(), args.end(), "--tcp") != args.end() ||
                   std::find(args.begin(), args.end(), "--rtu-tcp") != args.end();
  if (port != args.end() && port + 1 != args.end()) {
    link_ = *(port + 1);
  } else if (tcp) {
    // The port name comes with the ready line: "ready tcp://127.0.0.1:40123".
  } else {
    if (link_.empty()) {
      folder_ = MakeTemporaryFolder();
      link_ = folder_ + "/ttyKTR";
    }
    args.push_back("--pty");
    args.push_back(link_);
  }
  try {
    process_ = std::make_unique<ktr::test::SpawnedProcess>(BinaryPath(), std::move(args), "ready ");
    if (tcp) link_ = process_->readyLine().substr(6);
  } catch (...) {
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
    throw;
  }
}

SimProcess::~SimProcess() {
  Stop();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

int SimProcess::Stop() { return process_->Stop(); }

}  // namespace ktr::test
