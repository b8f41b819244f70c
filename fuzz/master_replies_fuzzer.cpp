// Fuzz target: any bytes coming back from the port, through the real master
// (worker thread, RTU framing, serial port on a pseudo-terminal). A
// responder thread on the far side of the pty waits for each request frame
// and answers with bytes the fuzzer chose.
//
// Input: byte 0 picks the request (function 3, 4, 6, 16, 1, 2, 5 or 15),
// byte 1 its count, the rest is the reply. Checked for every input:
// - the request on the line is exactly the asked frame, and a request too
//   large for the frame buffers (or a count of 0) is refused with -1 before
//   anything is sent;
// - the result is 0, -1, -4 or an exception result (-50 - code);
// - 0 only when the bytes hold this request's reply frame (the slave's
//   address, the function, the byte count of a read or the fields of a
//   write, a good CRC), and then the caller's registers (or coil bytes) hold
//   exactly its data and nothing past them;
// - an exception result only when the bytes hold the slave's address and the
//   function with bit 7 set, followed by the code; a reply that is just a
//   whole exception frame of this request gives that result (or -4 when it
//   came too late);
// - a whole reply of this request at the start with a good CRC gives 0 (or
//   -4 when it came too late);
// - any other result leaves the caller's buffer untouched;
// - afterwards a good exchange with the same device returns the right data:
//   nothing of the fuzzed reply (queued surplus, or a reply that came after
//   its time-out) is taken for the next reply.
// Both exchanges use a 2 ms reply time-out, so short replies and the
// master's wait for a quiet line after an unanswered request cost little.
// When the good reply itself comes too late (a busy machine), the good
// request is asked again with 100 ms and then 1000 ms; it must succeed.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "modbus_master.h"
#include "pty_pair.h"
#include "rtu_check.h"
#include "rtu_frame.h"

namespace {

using ktr::fuzz::Bytes;
using ktr::fuzz::Check;

constexpr std::uint8_t kSlave = 7;
constexpr std::uint16_t kSentinel = 0xA5A5;
constexpr std::uint8_t kSentinelByte = 0x5A;

// Answers each request frame on the pty with the reply set last.
class Responder {
 public:
  explicit Responder(const ktr::test::PtyPair& pty) : pty_(pty), thread_([this] { Serve(); }) {}
  ~Responder() {
    stop_ = true;
    thread_.join();
  }

  void SetReply(Bytes reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    reply_ = std::move(reply);
  }
  std::uint64_t answered() {
    std::lock_guard<std::mutex> lock(mutex_);
    return answered_;
  }
  // Waits until more than `count` requests have been answered.
  bool WaitAnswered(std::uint64_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return answered_ > count; });
  }
  // The request frames answered since the last call, in order.
  std::vector<Bytes> TakeRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(requests_, {});
  }

 private:
  void Serve() {
    Bytes pending;
    while (!stop_) {
      const std::size_t length = ktr::fuzz::RequestFrameLength(pending.data(), pending.size());
      if (length == 0 || pending.size() < length) {
        // Read what the frame still lacks (the header first) in one go.
        const Bytes more = pty_.ReadMaster((length == 0 ? 8 : length) - pending.size(), 20);
        pending.insert(pending.end(), more.begin(), more.end());
        continue;
      }
      Bytes reply;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.emplace_back(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(length));
        reply = reply_;
      }
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(length));
      if (!reply.empty()) pty_.WriteMaster(reply);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++answered_;
      }
      changed_.notify_all();
    }
  }

  const ktr::test::PtyPair& pty_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  Bytes reply_;
  std::vector<Bytes> requests_;
  std::uint64_t answered_ = 0;
  std::thread thread_;
};

struct Harness {
  ktr::test::PtyPair pty;
  Responder responder{pty};
  ktr::TModbus modbus;

  ktr::SerialSettings Settings(std::int32_t timeoutMs) const {
    ktr::SerialSettings s;
    s.portName = pty.slavePath();
    s.slaveAddress = kSlave;
    s.timeoutMs = timeoutMs;
    return s;
  }
};

Harness& TheHarness() {
  static Harness* harness = [] {
    auto* h = new Harness();  // lives until the process ends
    // One good read first, so the master knows the line does not echo: a
    // first write 5 or 6 would otherwise be preceded by a read of its own.
    h->responder.SetReply(ktr::fuzz::ReadReplyFrame(kSlave, {0x1234}));
    std::uint16_t value = 0;
    Check(h->modbus.OpenPort(h->Settings(1000)) == 0, "open");
    Check(h->modbus.ReadHoldingRegisters(8000, 1, &value) == 0, "first read");
    h->modbus.ClosePort();
    Check(h->responder.WaitAnswered(0, std::chrono::seconds(10)), "first read answered");
    h->responder.TakeRequests();
    return h;
  }();
  return *harness;
}

struct Request {
  std::uint8_t function;
  std::uint16_t count;
};

Request PickRequest(std::uint8_t selector, std::uint8_t countByte) {
  static constexpr std::array<std::uint8_t, 8> kFunctions{3, 4, 6, 16, 1, 2, 5, 15};
  const std::uint8_t function = kFunctions[selector % kFunctions.size()];
  // Counts from 0 to 255 for registers (0 and everything above 147 or 127
  // must be refused); coil counts spread over their wider range.
  std::uint16_t count = countByte;
  if (function == 1 || function == 2 || function == 15) count = static_cast<std::uint16_t>(countByte * 11);
  if (function == 5 || function == 6) count = 1;
  return {function, count};
}

// Offsets in the fuzzed bytes where this request's reply frame lies whole.
std::vector<std::size_t> ReplyFrames(const Bytes& reply, const Bytes& request, std::size_t expected) {
  std::vector<std::size_t> at;
  const bool read = request[1] <= 4;
  for (std::size_t k = 0; k + expected <= reply.size(); ++k) {
    const std::uint8_t* f = reply.data() + k;
    if (f[0] != request[0] || f[1] != request[1] || !ktr::fuzz::HasGoodCrc(f, expected)) continue;
    if (read ? f[2] != static_cast<std::uint8_t>(expected - 5)
             : !std::equal(f + 2, f + 6, request.begin() + 2)) {
      continue;
    }
    at.push_back(k);
  }
  return at;
}

bool HasExceptionHeader(const Bytes& reply, std::uint8_t function, std::uint8_t code) {
  for (std::size_t k = 0; k + 3 <= reply.size(); ++k) {
    if (reply[k] == kSlave && reply[k + 1] == (function | 0x80U) && reply[k + 2] == code) return true;
  }
  return false;
}

bool ResultIsKnown(std::int32_t r) { return r == 0 || r == -1 || r == -4 || (r <= -50 && r >= -305); }

// The frame the master must send for `req` (see CheckFuzzedExchange for the
// addresses and values).
Bytes ExpectedRequest(const Request& req, const std::vector<std::uint16_t>& source,
                      const std::vector<std::uint8_t>& sourceBits) {
  switch (req.function) {
    case 3:
    case 4: return ktr::fuzz::ReadRequestFrame(kSlave, req.function, 8000, req.count);
    case 5: return ktr::fuzz::WriteSingleFrame(kSlave, 20, 0xFF00, 5);
    case 6: return ktr::fuzz::WriteSingleFrame(kSlave, 10082, 0x5555);
    case 15: return ktr::fuzz::WriteCoilsFrame(kSlave, 0, req.count, sourceBits.data());
    case 16: return ktr::fuzz::WriteMultipleFrame(kSlave, 14000, source);
    default: return ktr::fuzz::ReadRequestFrame(kSlave, req.function, 0, req.count);
  }
}

void CheckFuzzedExchange(Harness& h, const Request& req, const Bytes& reply) {
  const bool coils = req.function == 1 || req.function == 2;
  const bool refused = !rtu::Fits(req.function, req.count);
  std::vector<std::uint16_t> registers(300, kSentinel);
  std::vector<std::uint8_t> bits(400, kSentinelByte);
  std::vector<std::uint16_t> source(req.count, 0x0102);
  std::vector<std::uint8_t> sourceBits(400);
  for (std::size_t i = 0; i < sourceBits.size(); ++i) sourceBits[i] = static_cast<std::uint8_t>(i * 7 + 1);

  Check(h.modbus.OpenPort(h.Settings(2)) == 0, "open");
  h.responder.TakeRequests();
  h.responder.SetReply(reply);
  const std::uint64_t before = h.responder.answered();
  std::int32_t r = 0;
  switch (req.function) {
    case 3: r = h.modbus.ReadHoldingRegisters(8000, req.count, registers.data()); break;
    case 4: r = h.modbus.ReadInputRegisters(8000, req.count, registers.data()); break;
    case 6: r = h.modbus.WriteSingleRegister(10082, 0x5555); break;
    case 16: r = h.modbus.WriteMultipleRegisters(14000, req.count, source.data()); break;
    case 1: r = h.modbus.ReadCoils(0, req.count, bits.data()); break;
    case 2: r = h.modbus.ReadDiscreteInputs(0, req.count, bits.data()); break;
    case 5: r = h.modbus.WriteSingleCoil(20, 0xFF00); break;
    default: r = h.modbus.WriteMultipleCoils(0, req.count, sourceBits.data()); break;
  }
  Check(ResultIsKnown(r), "result code outside the defined set");

  if (refused) {
    Check(r == -1, "oversized request not refused with -1");
  } else {
    // Wait until the whole fuzzed reply is on the line before going on.
    Check(h.responder.WaitAnswered(before, std::chrono::seconds(10)), "request never reached the line");
  }

  const std::size_t expected = rtu::ExpectedReplyLength(req.function, req.count);
  const bool untouched =
      coils ? std::all_of(bits.begin(), bits.end(), [](std::uint8_t b) { return b == kSentinelByte; })
            : std::all_of(registers.begin(), registers.end(), [](std::uint16_t v) { return v == kSentinel; });
  const Bytes request = ExpectedRequest(req, source, sourceBits);
  const std::vector<std::size_t> frames =
      refused ? std::vector<std::size_t>{} : ReplyFrames(reply, request, expected);
  if (r == 0) {
    Check(!frames.empty(), "success without a whole reply of this request");
    const auto holds = [&](std::size_t k) {
      if (req.function == 3 || req.function == 4) {
        for (std::size_t i = 0; i < req.count; ++i) {
          const std::uint16_t v =
              static_cast<std::uint16_t>((reply[k + 3 + 2 * i] << 8) | reply[k + 4 + 2 * i]);
          if (registers[i] != v) return false;
        }
      } else if (coils) {
        const std::size_t n = expected - 5;
        return std::equal(bits.begin(), bits.begin() + static_cast<std::ptrdiff_t>(n),
                          reply.begin() + static_cast<std::ptrdiff_t>(k + 3));
      }
      return true;
    };
    Check(std::any_of(frames.begin(), frames.end(), holds), "data not taken from the reply");
    if (req.function == 3 || req.function == 4) {
      Check(registers[req.count] == kSentinel, "register written past the count");
    } else if (coils) {
      Check(bits[expected - 5] == kSentinelByte, "coil byte written past the count");
    }
  } else {
    Check(untouched, "failed request changed the caller's buffer");
  }
  if (r <= -50) {
    Check(HasExceptionHeader(reply, req.function, static_cast<std::uint8_t>(-50 - r)),
          "exception result without an exception reply of this request");
  }
  if (!refused && reply.size() == 5 && reply[0] == kSlave && reply[1] == (req.function | 0x80U) &&
      ktr::fuzz::HasGoodCrc(reply.data(), 5)) {
    Check(r == -50 - static_cast<std::int32_t>(reply[2]) || r == -4,
          "a whole exception reply not taken as one");
  }
  if (!frames.empty() && frames.front() == 0) {
    Check(r == 0 || r == -4, "a whole good reply not taken");
  }

  // The responder has written the whole fuzzed reply by now (or nothing was
  // sent). A good exchange must not see any of it.
  h.responder.SetReply(ktr::fuzz::ReadReplyFrame(kSlave, {0x1234}));
  std::int32_t good = -4;
  std::uint16_t value = 0;
  std::uint64_t goodRequests = 0;
  for (const std::int32_t timeoutMs : {2, 100, 1000}) {
    Check(h.modbus.OpenPort(h.Settings(timeoutMs)) == 0, "reopen");
    good = h.modbus.ReadHoldingRegisters(8000, 1, &value);
    ++goodRequests;
    if (good != -4) break;
  }
  h.modbus.ClosePort();
  Check(good == 0 && value == 0x1234, "the next request saw bytes of the earlier reply");

  // The responder counts an answer only after writing it, so the master may
  // have the good reply before the count moves: wait for it, so that this
  // run's answers are all counted before the next run starts.
  const std::uint64_t fuzzedRequests = refused ? 0 : 1;
  Check(h.responder.WaitAnswered(before + fuzzedRequests + goodRequests - 1, std::chrono::seconds(10)),
        "the good request was never answered");
  // The responder records each request before it answers, in order: the
  // fuzzed one (unless it was refused), then the good ones.
  const std::vector<Bytes> requests = h.responder.TakeRequests();
  const Bytes goodRequest = ktr::fuzz::ReadRequestFrame(kSlave, 3, 8000, 1);
  Check(requests.size() == fuzzedRequests + goodRequests,
        "requests on the line: a refused one was sent, or one is missing");
  for (std::size_t i = fuzzedRequests; i < requests.size(); ++i) {
    Check(requests[i] == goodRequest, "the good request's frame");
  }
  if (!refused) {
    Check(requests.front() == ExpectedRequest(req, source, sourceBits), "the fuzzed request's frame");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || size > 2 + rtu::kFrameBufferSize + 16) return -1;  // not a reply worth running
  Harness& h = TheHarness();
  const Request req = PickRequest(data[0], data[1]);
  CheckFuzzedExchange(h, req, Bytes(data + 2, data + size));
  return 0;
}
