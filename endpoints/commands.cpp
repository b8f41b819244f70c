// Login, logout, and the two device commands: factory defaults and run
// configuration.
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

#include "access_cycle.h"
#include "json_reply.h"
#include "ktr_device.h"
#include "register_table.h"

namespace ktr {
namespace {

// The login text: the key, a colon (not "=") and the password, looked for as
// a plain substring of the raw parameter text.
constexpr std::string_view kLoginText = "login_pssw:pelko";

// Both commands are this value written to their command register.
constexpr std::uint16_t kCommandWord = table::kCommandWord;

}  // namespace

// No login state is kept anywhere: the answer only tells the page whether
// the text held the password.
std::string TKtrDevice::Login(const std::string& parameters) {
  return AnswerReply(parameters.find(kLoginText) != std::string::npos ? "yes" : "no");
}

std::string TKtrDevice::Logout() { return AnswerReply("yes"); }

std::string TKtrDevice::SetDefault() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return {};
  // A device back on factory settings answers on address 1 again; the list
  // shown to the operator says so, while SerialSettings keeps addressing the
  // device that the search found.
  ReplaceAddressList({"1"});
  KtrData.ConfigStatus = 0;
  // The command's result is not reported: the page shows "yes" either way.
  std::ignore = cycle.Write(table::kFactoryDefaultsRegister, &kCommandWord, 1);
  cycle.Close();
  return AnswerReply("yes");
}

void TKtrDevice::RunConfig() {
  AccessCycle cycle(*this);
  if (!cycle.opened()) return;
  KtrData.ConfigStatus = 0;
  std::ignore = cycle.Write(table::kRunConfigRegister, &kCommandWord, 1);  // the reply is empty either way
  cycle.Close();
}

}  // namespace ktr
