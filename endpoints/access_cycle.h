// The device access cycle every handler that talks to the device follows:
// take DeviceMutex, open the port, read or write, close the port, convert,
// build the reply, release. The object holds the mutex (and the open port)
// for its lifetime, so every way out of a handler, exceptions included,
// closes the port and releases the mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "ktr_device.h"
#include "register_table.h"

namespace ktr {

// What the device did during the reply being built on this thread, for the
// X-Device-Status header: "ok", or the kind of the first failure
// ("port-error", "no-reply", "bad-reply", "exception") followed by a space
// and the failed block's name where a block failed. Each connection thread
// builds one reply at a time, so the record is kept per thread; the route
// table starts it before a handler and takes it afterwards.
// `write`: the reply writes to the device (its access cycle goes before the
// waiting reads). `onLocked`, when given, is called once the reply's access
// cycle holds the device.
// `expectedAddress` (0: any): the address the reply's page shows; when the
// device in use has another, the access cycle sends nothing (opened() is
// false) and DeviceWasOther() says so.
void BeginDeviceStatus(bool write = false, std::function<void()> onLocked = {}, int expectedAddress = 0);
// After a reply's handler: whether its access cycle found another device in
// use than the one expected (and so sent nothing).
bool DeviceWasOther();
// True when a request of the current reply found the device silent (no
// reply, or the port failed).
bool DeviceSilentInReply();
// The current reply's cycle gives up the rest of its reads (and the pauses
// between them): the device is silent and other requests wait.
void EndReadsOfReply();
bool ReadsOfReplyEnded();
// The header value, or empty when the reply did not touch the device.
// `address`, when given, receives the bus address the reply's device
// requests went to (0 when it touched no device).
std::string TakeDeviceStatus(int* address = nullptr);
// Records the bus address the current reply's requests go to (the device
// in use when its access cycle began).
void NoteDeviceAddress(int address);
// Records a failed request of the current reply (the first one counts).
void NoteDeviceFailure(RequestFailure failure, const std::string& block);
// The name of a register block as the log lines give it: "SET_10084" for one
// register, "SET_10000_10005" for several.
std::string BlockName(std::uint16_t start, std::uint16_t count);

class AccessCycle {
 public:
  // Waits for DeviceMutex, then OpenPort with the device's settings. When the
  // open fails it logs "Error open port !!!" and releases the mutex at once;
  // opened() is then false and the handler answers with the empty text.
  explicit AccessCycle(TKtrDevice& device);
  ~AccessCycle();
  AccessCycle(const AccessCycle&) = delete;
  AccessCycle& operator=(const AccessCycle&) = delete;

  bool opened() const { return opened_; }

  // ReadHoldingRegisters of the block into its place in the image; on
  // failure logs its error line. Returns the master's result.
  std::int32_t Read(const table::BlockRead& block);
  // WriteSingleRegister (one word) or WriteMultipleRegisters (several);
  // a failure is recorded for the reply's device status. Returns the
  // master's result.
  [[nodiscard]] std::int32_t Write(std::uint16_t start, const std::uint16_t* words, std::uint16_t count);
  // The pause between two block reads, which gives the device time; none
  // once the cycle has ended its reads (EndReadsOfReply).
  static void Pause();
  // ClosePort, once; later calls do nothing. Handlers call it right after
  // their last device request, before converting.
  void Close();

  // Lets the writes waiting for the device (a save, a choice of device) go
  // first: closes the port, releases the device, takes it again in turn
  // behind them and opens the port as the constructor does (the device in
  // use may have changed meanwhile). False when the port then fails to open
  // (logged and recorded as in the constructor).
  bool GiveWay();
  // The access cycle of the reply being built on this thread, if any.
  static AccessCycle* Current();

  TModbus& modbus() { return device_.modbus_; }

  // After a failed OpenPort: logs "Error open port !!!", then the system's
  // reason for the failed open and a hint at the usual cause.
  static void LogOpenFailure(TKtrDevice& device);
  // After a failed request's own log line, while the port is still open:
  // logs the line errors (framing, parity, overrun, break) counted during
  // the request, if the driver counts them and any happened.
  static void LogLineErrors(TKtrDevice& device);
  // After a failed request's own log line: when the request failed because
  // the port went away (the adapter pulled out), logs the system's reason
  // and the hint, once a cycle.
  static void LogLinkLoss(TKtrDevice& device);

 private:
  // Takes the device's settings and opens the port (constructor, GiveWay).
  void Open();

  TKtrDevice& device_;
  TKtrDevice::DeviceLock lock_;
  bool opened_ = false;
  AccessCycle* outer_ = nullptr;  // the thread's cycle before this one
};

}  // namespace ktr
