// Win32 serial port: a synchronous (not overlapped) handle from CreateFileW,
// line settings through GetCommState/SetCommState, and the read and write
// time-outs of the driver, so that each read or write is one system call.
#include <windows.h>

#include <string>

#include "serial_port.h"
#include "serial_port_text.h"
#include "serial_port_win_dcb.h"
#include "win_text.h"

namespace ktr {
namespace {

HANDLE Win(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// ClearCommError ends the driver's error state (with fAbortOnError set by
// someone, every read and write fails until it is called) and tells which
// line errors happened since the last call. Windows has no counters, so
// each kind seen counts one.
void ClearLineErrors(HANDLE handle, LineErrorCounts& seen) {
  DWORD errors = 0;
  if (!ClearCommError(handle, &errors, nullptr)) return;
  if ((errors & CE_FRAME) != 0) ++seen.frame;
  if ((errors & CE_RXPARITY) != 0) ++seen.parity;
  if ((errors & (CE_OVERRUN | CE_RXOVER)) != 0) ++seen.overrun;
  if ((errors & CE_BREAK) != 0) ++seen.brk;
}

// The port's device control block as the driver holds it.
bool GetDcb(HANDLE handle, DCB& dcb) {
  dcb.DCBlength = sizeof dcb;
  return GetCommState(handle, &dcb) != FALSE;
}

// The driver judges the settings: an unknown baud rate or a data-bit and
// stop-bit pair the UART cannot send fails here.
bool SetDcb(HANDLE handle, DCB& dcb, const LineSettings& line) {
  detail::ApplyLineToDcb(dcb, line);
  return SetCommState(handle, &dcb) != FALSE;
}

// A read returns when all requested bytes have arrived or when timeoutMs
// has passed since it began, whichever comes first (the interval between
// bytes plays no part); a write gives up after timeoutMs.
bool SetTimeouts(HANDLE handle, std::int32_t timeoutMs) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(timeoutMs);
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(timeoutMs);
  if (timeoutMs <= 0) {
    // All zero would mean "no time-out": a read would wait for ever. A
    // time-out of nothing takes what has arrived and returns at once.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutConstant = 1;
  }
  return SetCommTimeouts(handle, &timeouts) != FALSE;
}

}  // namespace

namespace detail {

// ERROR_NO_SUCH_DEVICE, which some mingw-w64 headers lack.
constexpr DWORD kErrorNoSuchDevice = 433;

SerialErrorKind KindOfError(DWORD code, bool inIo) {
  switch (code) {
    case ERROR_SUCCESS: return SerialErrorKind::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT: return SerialErrorKind::NotFound;
    // A COM port that another program holds answers CreateFileW with
    // ERROR_ACCESS_DENIED: serial drivers allow one open handle at a time.
    // On a handle that is open the same code is what USB serial drivers
    // return once the adapter has been pulled out.
    case ERROR_ACCESS_DENIED: return inIo ? SerialErrorKind::Disconnected : SerialErrorKind::Busy;
    case ERROR_SHARING_VIOLATION: return SerialErrorKind::Busy;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED: return SerialErrorKind::BadSettings;
    case ERROR_INVALID_HANDLE: return SerialErrorKind::NotOpen;
    case ERROR_SEM_TIMEOUT:
    case WAIT_TIMEOUT: return SerialErrorKind::Timeout;
    // A USB adapter pulled out while open.
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case kErrorNoSuchDevice:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_BAD_COMMAND: return SerialErrorKind::Disconnected;
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT: return SerialErrorKind::Io;
    default: return SerialErrorKind::Other;
  }
}

void ApplyLineToDcb(DCB& dcb, const LineSettings& line) {
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = static_cast<DWORD>(line.baudRate);
  dcb.ByteSize = line.dataBits;
  // The stored codes go in as they are: they are the DCB's.
  static_assert(NOPARITY == 0 && ODDPARITY == 1 && EVENPARITY == 2);
  static_assert(ONESTOPBIT == 0 && ONE5STOPBITS == 1 && TWOSTOPBITS == 2);
  dcb.Parity = line.parity;
  dcb.StopBits = line.stopBits;
  dcb.fBinary = TRUE;  // the only mode Win32 supports; no end-of-file byte
  // Parity is generated and checked, but a byte with a parity error is
  // delivered as received (no error character, no abort): the CRC rejects
  // the frame.
  dcb.fParity = line.parity != 0 ? TRUE : FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;  // 0x00 is a data byte like any other
  dcb.fAbortOnError = FALSE;
  // No flow control of any kind: an RS-485 line has no handshake lines, and
  // 0x11/0x13 are data bytes.
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  if (line.rs485 || dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
  } else {
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
  }
}

}  // namespace detail

SerialPort::~SerialPort() { Close(); }

std::string SerialPort::DevicePath(const std::string& name) {
  // "COM3" opens \\.\COM3. The prefix is needed from COM10 on, and does no
  // harm below: the device namespace holds every port. A name that already
  // is a path is taken as it is.
  if (name.find('\\') != std::string::npos || name.find('/') != std::string::npos) return name;
  return "\\\\.\\" + name;
}

int SerialPort::LastOsError() { return static_cast<int>(GetLastError()); }

SerialErrorKind SerialPort::KindOf(int code) const {
  return detail::KindOfError(static_cast<DWORD>(code), IsOpen());
}

void SerialPort::SetError(SerialErrorKind kind, const char* call, int code) {
  error_.osCode = code;
  error_.kind = kind;
  error_.message = std::string(call) + ": " + win::SystemErrorText(static_cast<DWORD>(code));
}

int SerialPort::Open(const std::string& name, const LineSettings& line) {
  Close();
  error_ = {};
  timeoutMs_ = line.timeoutMs;
  if (name.empty()) {
    error_ = {SerialErrorKind::NotFound, 0, "open: no port name given"};
    return kCannotOpen;
  }

  const std::string path = DevicePath(name);
  // No sharing, synchronous I/O: ReadFile and WriteFile block until the
  // driver's time-outs (SetTimeouts) end them.
  const HANDLE handle = CreateFileW(win::WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    SetError(("CreateFileW " + path).c_str());
    return kCannotOpen;
  }
  handle_ = reinterpret_cast<std::intptr_t>(handle);

  DCB dcb{};
  if (!GetDcb(handle, dcb)) {
    SetError("GetCommState");
  } else if (!SetDcb(handle, dcb, line)) {
    SetError(SerialErrorKind::BadSettings, "SetCommState");
  } else if (!SetTimeouts(handle, line.timeoutMs)) {
    SetError("SetCommTimeouts");
  } else {
    // The driver's queue sizes stay as they are. Error flags a previous
    // program left would otherwise be reported for our first request.
    ClearLineErrors(Win(handle_), commErrors_);
    commErrors_ = {};
    return kOk;
  }
  Close();
  return kFailed;
}

void SerialPort::Close() {
  countsAtWrite_.reset();
  if (handle_ != kInvalidHandle) {
    CloseHandle(Win(handle_));
    handle_ = kInvalidHandle;
  }
}

bool SerialPort::Write(const std::uint8_t* data, std::size_t length) {
  if (!IsOpen()) {
    SetError("WriteFile", ERROR_INVALID_HANDLE);
    return false;
  }
  LineErrorCounts counts;
  if (ReadLineErrors(&counts)) countsAtWrite_ = counts;
  DWORD written = 0;
  const BOOL ok = WriteFile(Win(handle_), data, static_cast<DWORD>(length), &written, nullptr);
  const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  Trace(true, data, written);
  if (ok && written == length) return true;
  // The write time-out ends a write that the line cannot take in time with
  // success and fewer bytes: the frame on the line is cut.
  SetError("WriteFile", static_cast<int>(ok ? ERROR_SEM_TIMEOUT : error));
  return false;
}

// One ReadFile of the whole length under the total time-out set at open. The
// driver returns early only when all bytes are there, so `complete` cannot
// cut the wait short here: a shorter reply (an exception reply) is returned
// when the time-out ends, with the bytes that came.
bool SerialPort::Read(std::uint8_t* dest, std::size_t length, std::size_t* received,
                      FrameComplete /*complete*/) {
  *received = 0;
  if (!IsOpen()) {
    SetError("ReadFile", ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD got = 0;
  const BOOL ok = ReadFile(Win(handle_), dest, static_cast<DWORD>(length), &got, nullptr);
  *received = got;
  const DWORD readError = ok ? ERROR_SUCCESS : GetLastError();
  Trace(false, dest, got);
  // A line error may have ended the read; clear it for the next one.
  if (!ok || got < length) ClearLineErrors(Win(handle_), commErrors_);
  if (!ok) {
    SetError("ReadFile", static_cast<int>(readError));
    return false;
  }
  if (got < length) SetError("ReadFile", ERROR_SEM_TIMEOUT);
  return true;
}

// One ReadFile with the time-outs that make it wait for the first byte only:
// ReadIntervalTimeout and ReadTotalTimeoutMultiplier at MAXDWORD and a total
// constant return at once with what has arrived, or with the first byte to
// come within the constant (COMMTIMEOUTS in the Win32 documentation). The
// time-outs of Open are put back afterwards for Read and Write.
bool SerialPort::ReadAvailable(std::uint8_t* dest, std::size_t capacity, std::size_t* received,
                               std::chrono::steady_clock::time_point deadline) {
  *received = 0;
  if (!IsOpen()) {
    SetError("ReadFile", ERROR_INVALID_HANDLE);
    return false;
  }
  COMMTIMEOUTS saved{};
  if (!GetCommTimeouts(Win(handle_), &saved)) {
    SetError("GetCommTimeouts");
    return false;
  }
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  COMMTIMEOUTS wait = saved;
  wait.ReadIntervalTimeout = MAXDWORD;
  wait.ReadTotalTimeoutMultiplier = left > 0 ? MAXDWORD : 0;
  wait.ReadTotalTimeoutConstant = left > 0 ? static_cast<DWORD>(left) : 0;
  if (!SetCommTimeouts(Win(handle_), &wait)) {
    SetError("SetCommTimeouts");
    return false;
  }
  DWORD got = 0;
  const BOOL ok = ReadFile(Win(handle_), dest, static_cast<DWORD>(capacity), &got, nullptr);
  if (!ok) SetError("ReadFile");
  SetCommTimeouts(Win(handle_), &saved);
  *received = got;
  return ok != FALSE;
}

void SerialPort::DiscardInput() {
  if (IsOpen()) {
    PurgeComm(Win(handle_), PURGE_RXCLEAR);
    ClearLineErrors(Win(handle_), commErrors_);
  }
}

bool SerialPort::ReadLineErrors(LineErrorCounts* counts) {
  if (!IsOpen()) return false;
  ClearLineErrors(Win(handle_), commErrors_);
  *counts = commErrors_;
  return true;
}

std::optional<LineErrorCounts> SerialPort::LineErrorsSinceWrite() {
  LineErrorCounts now;
  if (!countsAtWrite_ || !ReadLineErrors(&now)) return std::nullopt;
  return CountsMoved(*countsAtWrite_, now);
}

// Windows serial drivers say nothing about latency or RS-485 here.
DriverState SerialPort::QueryDriverState() const { return {}; }

}  // namespace ktr
