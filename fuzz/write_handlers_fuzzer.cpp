// Fuzz target: the parameter text of "/setdata.cgi" and
// "/set_sched_data.cgi", any bytes, through the real handlers, master and
// serial port. The port is a pseudo-terminal whose far side nobody answers;
// the harness reads the request frames that reached the line and checks them
// against what the text asks for, read from it a second way (a table of the
// keys, not the handlers' code):
// - a value that is no integer: FieldConversionError with its text, and not
//   one byte on the line;
// - otherwise exactly the one write the text asks for (register, function,
//   values, CRC), or none, and the answer {"answer":"yes"} (or "no" for a
//   schedule write the handler refuses);
// - a schedule write never leaves the addressed weekday's block and covers
//   exactly one entry;
// - "diad" replaces the window's address list with the written value, in
//   unsigned decimal; nothing else touches the list;
// - after every request, bad values included, the port is closed again (the
//   harness can take its lock) and the device mutex is free (the next request
//   runs); no log line is written.
// The reply time-out is 0 ms: with nobody answering, each write costs no
// waiting (its failure is not reported by the handlers anyway).
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "ktr_device.h"
#include "modbus_master.h"
#include "pty_pair.h"
#include "request_fields.h"
#include "rtu_check.h"

namespace {

using ktr::fuzz::Bytes;
using ktr::fuzz::Check;

constexpr std::uint8_t kSlave = 1;
const std::string kYes = R"({"answer":"yes"})";
const std::string kNo = R"({"answer":"no"})";

struct Harness {
  ktr::test::PtyPair pty;
  ktr::TModbus modbus;
  std::vector<std::string> log;
  std::vector<std::vector<std::string>> addressLists;
  ktr::TKtrDevice device{modbus, [this](const std::string& line) { log.push_back(line); },
                         [this](const std::vector<std::string>& list) { addressLists.push_back(list); }};

  Harness() {
    ktr::SerialSettings s;
    s.portName = pty.slavePath();
    s.slaveAddress = kSlave;
    s.timeoutMs = 0;
    // Nothing answers on this pty and it does not echo: the line is known,
    // so no read goes ahead of the first write to learn the echo, and the
    // frames on the wire are exactly the asked writes.
    s.echo = ktr::EchoMode::Off;
    device.SetSettings(s);
  }
};

Harness& TheHarness() {
  static Harness* harness = new Harness();  // lives until the process ends
  return *harness;
}

// True when nobody holds the port: the master opens it with TIOCEXCL and an
// exclusive flock, so a port left open refuses either the open (TIOCEXCL,
// for a user other than root) or the lock.
bool PortIsFree(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);  // drops the lock
  return free;
}

// What a request should do: its answer, its one frame (or none) and the
// address list it leaves in the window (or none).
struct Expectation {
  std::string answer = kYes;
  std::optional<Bytes> frame;
  std::optional<std::vector<std::string>> addressList;
};

// Runs one handler on `text` and compares it with `expect(text)`, whose
// FieldConversionError stands for the error the handler must throw. Returns
// the frames the handler sent.
template <typename Expect, typename Call>
std::vector<Bytes> CheckHandler(Harness& h, const std::string& text, Expect expect, Call call) {
  std::optional<Expectation> expected;
  std::optional<std::string> expectedError;
  try {
    expected = expect(text);
  } catch (const ktr::FieldConversionError& e) {
    expectedError = e.what();
  }

  std::optional<std::string> answer;
  std::optional<std::string> error;
  try {
    answer = call(text);
  } catch (const ktr::FieldConversionError& e) {
    error = e.what();
  }
  const Bytes sent = h.pty.DrainMaster(0);
  const std::vector<Bytes> frames = ktr::fuzz::SplitRequests(sent);
  std::size_t framed = 0;
  for (const Bytes& frame : frames) framed += frame.size();
  Check(framed == sent.size(), "the line carries something that is no request frame");
  Check(PortIsFree(h.pty.slavePath()), "the port is still open after the request");
  Check(h.log.empty(), "a write request logged a line");

  if (expectedError) {
    Check(error == expectedError, "conversion error expected, with the failing value");
    Check(frames.empty(), "wrote despite a bad value");
    Check(h.addressLists.empty(), "address list changed by a request that failed");
  } else {
    Check(!error, "conversion error for good values");
    Check(answer == expected->answer, "answer");
    if (expected->frame) {
      Check(frames.size() == 1 && frames.front() == *expected->frame, "not the asked write");
    } else {
      Check(frames.empty(), "wrote although nothing (valid) was asked");
    }
    if (expected->addressList) {
      Check(h.addressLists.size() == 1 && h.addressLists.front() == *expected->addressList,
            "address list after a device address write");
    } else {
      Check(h.addressLists.empty(), "address list changed by another write");
    }
  }
  h.addressLists.clear();
  return frames;
}

// --- settings write: the first field picks one register (or three) --------

struct SettingKey {
  std::string_view key;
  std::uint16_t reg;
};

constexpr std::array<SettingKey, 31> kSingleKeys{{
    {"tmpe", 10000},   {"dtpe", 10001}, {"cdpe", 10002}, {"s1pe", 10003}, {"s2pe", 10004}, {"stpe", 10005},
    {"t_zone", 10026}, {"dst", 10027},  {"cdir", 10040}, {"lm_d", 10041}, {"lm_h", 10042}, {"lm_m", 10043},
    {"lm_s", 10044},   {"rlpe", 10045}, {"crpt", 10046}, {"bmod", 10300}, {"blvl", 10301}, {"bloc", 10302},
    {"bgra", 10303},   {"diad", 10060}, {"poll", 10084}, {"s1ad", 10061}, {"s1un", 10062}, {"s1mo", 10063},
    {"s1rf", 10077},   {"s2ad", 10068}, {"s2un", 10069}, {"s2mo", 10070}, {"s2rf", 10078}, {"sype", 10075},
    {"stmo", 10076},
}};

// The date (YYYY-MM-DD) and the time (HH:MM:SS): three pieces at fixed
// 1-based positions, written to three registers in one request.
struct ThreePieceKey {
  std::string_view key;
  std::uint16_t reg;
  std::array<std::size_t, 3> positions;
};

constexpr std::array<ThreePieceKey, 2> kThreePieceKeys{{
    {"dt", 10020, {3, 6, 9}},
    {"tm", 10023, {1, 4, 7}},
}};

Expectation ExpectedSetData(std::string_view text) {
  // Only the first field counts.
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) return {};
  const std::string_view key = text.substr(0, eq);
  const std::string_view rest = text.substr(eq + 1);
  const std::string_view value = rest.substr(0, rest.find('&'));

  Expectation e;
  for (const ThreePieceKey& k : kThreePieceKeys) {
    if (key != k.key) continue;
    std::vector<std::uint16_t> words;
    for (const std::size_t p : k.positions) {
      words.push_back(static_cast<std::uint16_t>(ktr::TwoDigitPiece(value, p)));
    }
    e.frame = ktr::fuzz::WriteMultipleFrame(kSlave, k.reg, words);
  }
  for (const SettingKey& k : kSingleKeys) {
    if (key != k.key) continue;
    const auto word = static_cast<std::uint16_t>(ktr::FieldInteger(value));
    e.frame = ktr::fuzz::WriteSingleFrame(kSlave, k.reg, word);
    if (key == "diad") e.addressList = std::vector<std::string>{std::to_string(word)};
  }
  return e;
}

// --- schedule write: all fields, the last entry key decides ----------------

constexpr std::uint16_t kFirstBlock = 14000;  // Sunday
constexpr std::uint16_t kLastBlock = 14600;   // Saturday
constexpr std::array<std::string_view, 7> kDays{"sun", "mon", "tue", "wed", "thu", "fri", "sat"};

enum Kind { kNone = -1, kEnable = 0, kPlan = 1, kLength = 2 };

// Each entry key sets one word of one write kind.
struct EntryKey {
  std::string_view key;
  Kind kind;
  std::size_t word;
};

constexpr std::array<EntryKey, 7> kEntryKeys{{
    {"ena", kEnable, 0},
    {"tp_status", kPlan, 0},
    {"tp_time", kPlan, 1},
    {"tp_len", kPlan, 2},
    {"s_len_ws", kLength, 0},
    {"s_len_bb", kLength, 1},
    {"s_len_eb", kLength, 2},
}};

// Per kind: the first register of entry 0 in a day's block, and the number
// of entries.
constexpr std::array<unsigned, 3> kEntryOffset{0, 1, 61};
constexpr std::array<int, 3> kEntryCount{1, 20, 5};

// HH:MM: hour * 256 + minute; an empty time is minute 60 of hour 0.
std::uint16_t TimeWord(const std::string& value) {
  if (value.empty()) return 60;
  const std::int32_t hour = ktr::TwoDigitPiece(value, 1);
  const std::int32_t minute = ktr::TwoDigitPiece(value, 4);
  return static_cast<std::uint16_t>(hour * 256 + minute);
}

Expectation ExpectedSetSchedData(std::string_view text) {
  unsigned block = kFirstBlock;
  std::optional<std::int32_t> index;
  Kind kind = kNone;
  std::array<std::array<std::optional<std::uint16_t>, 3>, 3> words;  // [kind][word]

  ktr::ForEachField(text, [&](const std::string& key, const std::string& value) {
    if (key == "day") {
      for (std::size_t d = 0; d < kDays.size(); ++d) {
        if (value == kDays[d]) block += 100 * static_cast<unsigned>(d);
      }
      return;
    }
    if (key == "idx") {
      index = ktr::FieldInteger(value);
      return;
    }
    for (const EntryKey& k : kEntryKeys) {
      if (key != k.key) continue;
      kind = k.kind;
      words[k.kind][k.word] =
          key == "tp_time" ? TimeWord(value) : static_cast<std::uint16_t>(ktr::FieldInteger(value));
    }
  });

  Expectation e;
  if (kind == kNone) return e;
  // Repeated "day" fields add up; past Saturday's block is no schedule.
  if (block > kLastBlock) {
    e.answer = kNo;
    return e;
  }
  if (kind == kEnable) {
    e.frame = ktr::fuzz::WriteSingleFrame(kSlave, static_cast<std::uint16_t>(block), *words[kEnable][0]);
    return e;
  }
  auto entry = words[kind];
  if (kind == kPlan && entry[0] == std::uint16_t{0}) {
    entry[1] = 0;  // an entry switched off keeps time 0 and length 1
    entry[2] = 1;
  }
  if (!index || *index < 0 || *index >= kEntryCount[kind] || !entry[0] || !entry[1] || !entry[2]) {
    e.answer = kNo;
    return e;
  }
  const unsigned start = block + kEntryOffset[kind] + 3 * static_cast<unsigned>(*index);
  e.frame = ktr::fuzz::WriteMultipleFrame(kSlave, static_cast<std::uint16_t>(start),
                                          {*entry[0], *entry[1], *entry[2]});
  return e;
}

// Whatever the schedule handler writes stays inside one weekday's 76
// registers: the enable word alone, or the three registers of one entry.
void CheckScheduleZone(const Bytes& frame) {
  const unsigned start = (frame[2] << 8U) | frame[3];
  Check(start >= kFirstBlock && start <= kLastBlock + 75, "schedule write outside the schedule blocks");
  const unsigned offset = (start - kFirstBlock) % 100;
  if (frame[1] == 6) {
    Check(offset == 0, "single schedule write is no enable word");
  } else {
    Check(frame[1] == 16 && frame[4] == 0 && frame[5] == 3, "schedule entry write is not three registers");
    Check(offset >= 1 && offset <= 73 && (offset - 1) % 3 == 0, "schedule write across entries");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Harness& h = TheHarness();
  const std::string text(reinterpret_cast<const char*>(data), size);
  CheckHandler(h, text, ExpectedSetData, [&h](const std::string& t) { return h.device.SetData(t); });
  const std::vector<Bytes> frames = CheckHandler(
      h, text, ExpectedSetSchedData, [&h](const std::string& t) { return h.device.SetSchedData(t); });
  for (const Bytes& frame : frames) CheckScheduleZone(frame);
  return 0;
}
