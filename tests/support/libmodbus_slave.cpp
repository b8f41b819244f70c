#include "libmodbus_slave.h"

#include <modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace ktr::test {

LibmodbusSlave::LibmodbusSlave(const PtyPair& pty, int slaveAddress, int registerCount) {
  // The device path is never opened: the context serves the pty master
  // through modbus_set_socket.
  ctx_ = modbus_new_rtu("/dev/null", 19200, 'N', 8, 1);
  map_ = modbus_mapping_new(registerCount, registerCount, registerCount, registerCount);
  if (ctx_ == nullptr || map_ == nullptr) throw std::runtime_error("libmodbus setup failed");
  modbus_set_slave(ctx_, slaveAddress);
  modbus_set_socket(ctx_, pty.master());
  // A short response time-out keeps libmodbus from swallowing the next frame
  // after a request for another address; the indication time-out lets the
  // loop see the stop flag.
  modbus_set_response_timeout(ctx_, 0, 1000);
  modbus_set_indication_timeout(ctx_, 0, 50000);
  thread_ = std::thread([this] { Serve(); });
}

LibmodbusSlave::~LibmodbusSlave() {
  stop_ = true;
  thread_.join();
  modbus_mapping_free(map_);
  modbus_free(ctx_);  // the fd belongs to the PtyPair: not closed here
}

void LibmodbusSlave::SetRegister(int address, std::uint16_t value) {
  std::lock_guard<std::mutex> lock(mapMutex_);
  map_->tab_registers[address] = value;
}

std::uint16_t LibmodbusSlave::Register(int address) const {
  std::lock_guard<std::mutex> lock(mapMutex_);
  return map_->tab_registers[address];
}

void LibmodbusSlave::Serve() {
  std::uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
  while (!stop_) {
    const int n = modbus_receive(ctx_, query);
    if (n > 0) {
      std::lock_guard<std::mutex> lock(mapMutex_);
      modbus_reply(ctx_, query, n, map_);
      served_.fetch_add(1);
    }
  }
}

LibmodbusTcpServer::LibmodbusTcpServer(int registerCount, bool rtuOverTcp, int slaveAddress)
    : rtuOverTcp_(rtuOverTcp), slaveAddress_(slaveAddress) {
  // Port 0: the system picks a free one, read back from the socket.
  listener_ = modbus_new_tcp("127.0.0.1", 0);
  map_ = modbus_mapping_new(registerCount, registerCount, registerCount, registerCount);
  if (listener_ == nullptr || map_ == nullptr) throw std::runtime_error("libmodbus setup failed");
  listenFd_ = modbus_tcp_listen(listener_, 4);
  if (listenFd_ < 0) throw std::runtime_error(std::string("modbus_tcp_listen: ") + modbus_strerror(errno));
  sockaddr_in local{};
  socklen_t size = sizeof local;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&local), &size);
  port_ = ntohs(local.sin_port);
  portName_ = std::string(rtuOverTcp ? "rtu+tcp://" : "tcp://") + "127.0.0.1:" + std::to_string(port_);
  thread_ = std::thread([this] { Serve(); });
}

LibmodbusTcpServer::~LibmodbusTcpServer() {
  stop_ = true;
  thread_.join();
  close(listenFd_);
  modbus_mapping_free(map_);
  modbus_free(listener_);
}

void LibmodbusTcpServer::SetRegister(int address, std::uint16_t value) {
  std::lock_guard<std::mutex> lock(mapMutex_);
  map_->tab_registers[address] = value;
}

std::uint16_t LibmodbusTcpServer::Register(int address) const {
  std::lock_guard<std::mutex> lock(mapMutex_);
  return map_->tab_registers[address];
}

void LibmodbusTcpServer::Serve() {
  std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  while (!stop_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    int listening = listenFd_;
    if (modbus_tcp_accept(listener_, &listening) < 0) continue;
    connections_.fetch_add(1);
    // The accepted socket is the listener context's now; an RTU context
    // serves it for RTU over TCP.
    modbus_t* ctx = listener_;
    if (rtuOverTcp_) {
      ctx = modbus_new_rtu("/dev/null", 19200, 'N', 8, 1);
      modbus_set_socket(ctx, modbus_get_socket(listener_));
    }
    // libmodbus sleeps for the response time-out before it answers a
    // request it refuses (and it waits that long for a reply to ignore on
    // RTU): keep it short.
    modbus_set_response_timeout(ctx, 0, 1000);
    modbus_set_slave(ctx, slaveAddress_);
    modbus_set_indication_timeout(ctx, 0, 50000);
    while (!stop_) {
      const int n = modbus_receive(ctx, query);
      if (n > 0) {
        std::lock_guard<std::mutex> lock(mapMutex_);
        modbus_reply(ctx, query, n, map_);
        served_.fetch_add(1);
      } else if (n < 0 && errno != ETIMEDOUT) {
        break;  // the client closed (ECONNRESET) or broke the framing
      }
    }
    close(modbus_get_socket(listener_));
    if (rtuOverTcp_) modbus_free(ctx);
  }
}

}  // namespace ktr::test
