#include "register_commands.h"

#include <cstdio>
#include <memory>

#include "check_hint.h"
#include "modbus_master.h"
#include "rtu_frame.h"
#include "serial_port_text.h"
#include "trace.h"

namespace ktr::cli {
namespace {

struct ReadArgs {
  LineOptions line;
  std::uint32_t start = 0;
  std::uint32_t count = 0;
};

struct WriteArgs {
  LineOptions line;
  std::uint32_t start = 0;
  std::vector<std::uint32_t> values;
};

// Closes the port; for a failed request prints its code, its meaning, the
// line errors it caused and what to check. Returns the exit code.
int Finish(TModbus& master, std::int32_t code) {
  if (code != result::kOk) {
    std::fprintf(stderr, "error: %d %s\n", code, ResultText(code).c_str());
    PrintLineErrors(master);
    PrintCheck(stderr, CheckForCode(code));
  }
  master.ClosePort();
  return code != result::kOk ? 1 : 0;
}

// Opens the port; on failure prints the reason and returns false.
bool Open(TModbus& master, const LineOptions& line) {
  const std::int32_t r = master.OpenPort(ToSerialSettings(line));
  if (r == result::kOk) return true;
  std::fprintf(stderr, "error: %d cannot open port %s: %s\n", r, line.port.c_str(),
               OpenFailureDetail(master.LastOpenFailure()).c_str());
  PrintCheck(stderr, CheckText(Check::kPort));
  return false;
}

int RunRead(const ReadArgs& a) {
  TModbus master;
  AttachTrace(master);
  if (!Open(master, a.line)) return 1;
  std::vector<std::uint16_t> regs(a.count);
  const std::int32_t r = master.ReadHoldingRegisters(static_cast<std::uint16_t>(a.start),
                                                     static_cast<std::uint16_t>(a.count), regs.data());
  if (Finish(master, r) != 0) return 1;
  for (std::uint32_t i = 0; i < a.count; ++i) {
    std::printf("%u %u\n", a.start + i, static_cast<unsigned>(regs[i]));
  }
  return 0;
}

int RunWrite(const WriteArgs& a) {
  TModbus master;
  AttachTrace(master);
  if (!Open(master, a.line)) return 1;
  std::int32_t r = result::kOk;
  if (a.values.size() == 1) {
    r = master.WriteSingleRegister(static_cast<std::uint16_t>(a.start),
                                   static_cast<std::uint16_t>(a.values[0]));
  } else {
    std::vector<std::uint16_t> regs(a.values.begin(), a.values.end());
    r = master.WriteMultipleRegisters(static_cast<std::uint16_t>(a.start),
                                      static_cast<std::uint16_t>(regs.size()), regs.data());
  }
  return Finish(master, r);
}

}  // namespace

void AddRegisterCommands(CLI::App& app, std::function<int()>& run) {
  auto readArgs = std::make_shared<ReadArgs>();
  CLI::App* read = app.add_subcommand("read", "Read holding registers (function 3)");
  AddLineOptions(*read, readArgs->line);
  read->add_option("START", readArgs->start, "First register")->required()->check(CLI::Range(0, 65535));
  read->add_option("COUNT", readArgs->count, "Number of registers")
      ->required()
      ->check(CLI::Range(1, static_cast<int>(rtu::kMaxReadRegisters)));
  read->callback([readArgs, &run] {
    if (readArgs->start + readArgs->count > 65536U) {
      throw CLI::ValidationError("START + COUNT", "the registers must end at 65535 or below");
    }
    run = [readArgs] { return RunRead(*readArgs); };
  });

  auto writeArgs = std::make_shared<WriteArgs>();
  CLI::App* write =
      app.add_subcommand("write", "Write holding registers (function 6 for one value, 16 for several)");
  AddLineOptions(*write, writeArgs->line);
  write->add_option("START", writeArgs->start, "First register")->required()->check(CLI::Range(0, 65535));
  write->add_option("VALUE", writeArgs->values, "Values (0 to 65535)")
      ->required()
      ->check(CLI::Range(0, 65535));
  write->callback([writeArgs, &run] {
    const std::size_t n = writeArgs->values.size();
    if (n > rtu::kMaxWriteRegisters) {
      throw CLI::ValidationError(
          "VALUE", "at most " + std::to_string(rtu::kMaxWriteRegisters) + " values in one write");
    }
    if (writeArgs->start + n > 65536U) {
      throw CLI::ValidationError("START + values", "the registers must end at 65535 or below");
    }
    run = [writeArgs] { return RunWrite(*writeArgs); };
  });
}

}  // namespace ktr::cli
