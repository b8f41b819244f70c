#include "bus_server.h"

#include <modbus.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>

#include "mbap_reply.h"
#include "sim_log.h"

namespace ktr_sim {
namespace {

// libmodbus waits this long for the first byte of a request before
// modbus_receive() returns ETIMEDOUT; it restarts its select() on EINTR,
// so this bounds how late a stop signal is noticed.
constexpr std::uint32_t kIndicationTimeoutUs = 100'000;
// After a request for another address, libmodbus waits for that device's
// reply (the "confirmation to ignore") for the response timeout. Keep it
// tiny; frames for other addresses also get a fresh context (see Run).
constexpr std::uint32_t kResponseTimeoutUs = 1'000;
// How long a reply may wait for room on the line before it is dropped.
constexpr int kWriteTimeoutMs = 1000;

constexpr std::uint8_t kBroadcast = 0;

bool IsWrite(std::uint8_t function) { return function == 6 || function == 16; }

}  // namespace

BusServer::BusServer(Line& line, const BusOptions& options)
    : line_(line), options_(options), random_(std::random_device{}()) {
  for (std::uint8_t address : options_.addresses) {
    devices_.emplace(address, std::make_unique<DeviceRegisters>(options_.firmware, address));
  }
  NewContext();
}

BusServer::~BusServer() {
  // modbus_free() only; modbus_close() would close the line's descriptor.
  if (context_ != nullptr) modbus_free(context_);
}

void BusServer::NewContext() {
  // The device name and line settings given here are never used: libmodbus
  // does not open anything, it is handed the line's descriptor.
  modbus_t* ctx =
      line_.ModbusTcp() ? modbus_new_tcp("127.0.0.1", 0) : modbus_new_rtu("ktr-sim", 19200, 'N', 8, 1);
  if (ctx == nullptr) throw std::runtime_error(std::string("libmodbus: ") + modbus_strerror(errno));
  if (modbus_set_socket(ctx, line_.fd()) < 0 || modbus_set_slave(ctx, options_.addresses.front()) < 0 ||
      modbus_set_response_timeout(ctx, 0, kResponseTimeoutUs) < 0 ||
      modbus_set_indication_timeout(ctx, 0, kIndicationTimeoutUs) < 0) {
    const int saved = errno;
    modbus_free(ctx);
    throw std::runtime_error(std::string("libmodbus: ") + modbus_strerror(saved));
  }
  if (context_ != nullptr) modbus_free(context_);
  context_ = ctx;
  contextFd_ = line_.fd();
}

void BusServer::Run(const volatile std::sig_atomic_t& stop) {
  stop_ = &stop;
  std::uint8_t buffer[MODBUS_TCP_MAX_ADU_LENGTH] = {};
  while (stop == 0) {
    if (!line_.WaitForPeer()) continue;
    if (contextFd_ != line_.fd()) NewContext();  // a new client
    const int rc = modbus_receive(context_, buffer);
    line_.KeepOpenable();
    if (rc > 0 && line_.ModbusTcp()) {
      OnAdu(std::span(buffer, static_cast<std::size_t>(rc)));
      continue;
    }
    if (rc > 0) {
      OnFrame(std::span(buffer, static_cast<std::size_t>(rc)));
      continue;
    }
    if (rc == 0) {
      // A frame for another address than the context's. libmodbus skips
      // its CRC check and would next wait for the other device's reply,
      // swallowing whatever comes within the response timeout. The frame is
      // whole in the buffer: check it here and start a fresh context.
      const std::size_t length = RequestLength(std::span(buffer, sizeof buffer));
      NewContext();
      if (length < 4 || length > sizeof buffer) continue;
      const std::span<const std::uint8_t> frame(buffer, length);
      if (!CrcValid(frame)) {
        if (devices_.contains(frame[0])) LogLine("request with a bad CRC ignored: " + Hex(frame));
        continue;
      }
      OnFrame(frame);
      continue;
    }
    const int error = errno;
    if (error == ETIMEDOUT || error == EINTR) continue;  // idle line
    if (line_.Stream()) {
      // The client closed (libmodbus reports ECONNRESET for a read of
      // nothing) or sent what is no frame: its stream cannot be followed
      // any further. The next client gets a fresh start.
      if (error != ECONNRESET) LogLine(std::string("connection dropped: ") + modbus_strerror(error));
      line_.PeerGone();
      continue;
    }
    if (error == EIO || error == EBADF || error == ENXIO) {
      throw std::system_error(error, std::generic_category(), "the line failed");
    }
    LogLine(std::string("request ignored: ") + modbus_strerror(error));
    // Drop what is left of the broken frame so the next request starts clean.
    tcflush(line_.fd(), TCIFLUSH);
  }
}

void BusServer::OnAdu(std::span<const std::uint8_t> adu) {
  if (adu.size() < kMbapHeaderSize + 1) return;  // libmodbus takes no shorter frame
  transaction_ = static_cast<std::uint16_t>((adu[0] << 8) | adu[1]);
  const Frame request = RtuFromAdu(adu);
  OnFrame(request);
}

void BusServer::OnFrame(std::span<const std::uint8_t> frame) {
  const auto received = std::chrono::steady_clock::now();
  if (options_.fault.kind == ktr::Fault::kEcho) {
    // The adapter hears its own transmission: every request comes back, as
    // it goes out, whoever it is for and whether or not anyone answers.
    const Frame echo =
        line_.ModbusTcp() ? AduFromRtu(transaction_, frame) : Frame(frame.begin(), frame.end());
    SendOnWire(echo, received);
    if (options_.verbose) LogLine("echo " + Hex(echo));
  }
  const std::uint8_t address = frame[0];
  if (address == kBroadcast) {
    // Every device carries out a broadcast write; none answers.
    if (options_.verbose) LogLine("rx " + Hex(frame) + " (broadcast)");
    if (IsWrite(frame[1])) {
      for (auto& [unused, device] : devices_) Execute(*device, frame);
    }
    return;
  }
  const auto device = devices_.find(address);
  if (device == devices_.end()) {
    if (options_.verbose)
      LogLine("rx " + Hex(frame) + " (address " + std::to_string(address) + ", not here)");
    return;
  }
  if (options_.verbose) LogLine("rx " + Hex(frame));

  const ktr::FaultMode fault = FaultFor(frame, options_.fault);
  Frame reply = fault.kind == ktr::Fault::kException
                    ? ExceptionReply(frame, static_cast<std::uint8_t>(fault.value))
                    : Execute(*device->second, frame);
  const Outgoing out = line_.ModbusTcp() ? ApplyTcpFault(fault, reply, transaction_, random_)
                                         : ApplyFault(fault, std::move(reply), random_);
  const std::string tag = fault.kind == ktr::Fault::kNone ? "" : " [" + FaultName(fault) + "]";
  if (out.delay_ms > 0) Pause(out.delay_ms);
  if (out.bytes.empty()) {
    if (options_.verbose) LogLine("tx nothing" + tag);
    return;
  }
  // The request has arrived at once on a pty; on a real line its last byte
  // comes a request's wire time after its first, and the reply starts
  // after the device's turnaround.
  SendOnWire(out.bytes, received + CharacterTime() * static_cast<std::int64_t>(frame.size()) +
                            std::chrono::microseconds(options_.turnaroundUs));
  if (options_.verbose) LogLine("tx " + Hex(out.bytes) + tag);
  if (IsWrite(frame[1]) && frame.size() >= 4 && (out.bytes.size() < 2 || (out.bytes[1] & 0x80U) == 0)) {
    FollowAddressSetting(address, frame);
  }
}

void BusServer::FollowAddressSetting(std::uint8_t address, std::span<const std::uint8_t> frame) {
  if (options_.readdress == Readdress::kNever) return;
  const auto start = static_cast<std::uint16_t>((frame[2] << 8U) | frame[3]);
  std::uint32_t count = 1;
  if (frame[1] == 16 && frame.size() >= 6) count = static_cast<std::uint32_t>((frame[4] << 8U) | frame[5]);
  const auto writes = [&](std::uint16_t reg) { return reg >= start && reg < start + count; };
  const bool command = writes(ktr::reg::kConfigStatus) || writes(ktr::reg::kFactoryDefaults);
  if (options_.readdress == Readdress::kOnApply && !command) return;
  const auto it = devices_.find(address);
  if (it == devices_.end()) return;
  const std::uint16_t target = it->second->AddressSetting();
  if (target == address || target < 1 || target > 247) return;
  if (devices_.contains(static_cast<std::uint8_t>(target))) {
    LogLine("address " + std::to_string(address) + " stays: address " + std::to_string(target) +
            " is another device's");
    return;
  }
  auto device = std::move(it->second);
  devices_.erase(it);
  devices_.emplace(static_cast<std::uint8_t>(target), std::move(device));
  LogLine("the device at address " + std::to_string(address) + " now answers on address " +
          std::to_string(target));
}

std::chrono::nanoseconds BusServer::CharacterTime() const {
  if (options_.wireBaud == 0) return {};
  const std::int64_t bits = 1 + options_.dataBits + (options_.parity ? 1 : 0) + options_.stopBits;
  return std::chrono::nanoseconds(bits * 1'000'000'000 / options_.wireBaud);
}

void BusServer::SendOnWire(const Frame& bytes, std::chrono::steady_clock::time_point start) {
  if (options_.wireBaud == 0) {
    Send(bytes);
    return;
  }
  // Each byte is passed on once its last bit would have arrived: all that
  // is due at once, then a sleep until the next one is.
  const auto charTime = CharacterTime();
  std::size_t sent = 0;
  while (sent < bytes.size() && *stop_ == 0) {
    const auto now = std::chrono::steady_clock::now();
    std::size_t due = 0;
    if (now >= start)
      due = std::min<std::size_t>(bytes.size(), static_cast<std::size_t>((now - start) / charTime));
    if (due > sent) {
      Send(Frame(bytes.begin() + static_cast<std::ptrdiff_t>(sent),
                 bytes.begin() + static_cast<std::ptrdiff_t>(due)));
      sent = due;
      continue;
    }
    std::this_thread::sleep_until(start + charTime * static_cast<std::int64_t>(sent + 1));
  }
}

void BusServer::Send(const Frame& bytes) {
  if (line_.fd() < 0) return;  // the client has gone
  // One write() for the whole reply where the line takes it, so the other
  // side sees it as one burst (a "long" reply's surplus included).
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(line_.fd(), bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && line_.Stream()) {
      // The client closed before its reply (EPIPE, ECONNRESET).
      line_.PeerGone();
      return;
    }
    if (n < 0 && errno != EAGAIN) {
      throw std::system_error(errno, std::generic_category(), "cannot write to the line");
    }
    // Line full: nobody reads the other side.
    pollfd p{line_.fd(), POLLOUT, 0};
    const int ready = poll(&p, 1, kWriteTimeoutMs);
    if (ready < 0 && errno == EINTR && *stop_ == 0) continue;
    if (ready <= 0) {
      if (*stop_ == 0) LogLine("reply dropped, the line takes no more bytes: " + Hex(bytes));
      return;
    }
  }
}

void BusServer::Pause(unsigned ms) {
  // A signal interrupts poll(); keep sleeping unless it asked us to stop.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (*stop_ == 0) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    poll(nullptr, 0, static_cast<int>(left.count()));
  }
}

}  // namespace ktr_sim
