// SPDX-License-Identifier: GPL-3.0-or-later
// The system's RS-485 ioctls. struct serial_rs485 has grown named fields over kernel versions
// (address bytes in the former padding), so it is copied as flags, two delays and the rest.
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "platform/serial_rs485.h"

namespace tavex::platform {
namespace {

static_assert(sizeof(serial_rs485) == 8 * sizeof(std::uint32_t));
static_assert(SER_RS485_ENABLED == kRs485Enabled && SER_RS485_RTS_ON_SEND == kRs485RtsOnSend &&
              SER_RS485_RTS_AFTER_SEND == kRs485RtsAfterSend &&
              SER_RS485_RX_DURING_TX == kRs485RxDuringTx);

int Ioctl(int fd, unsigned long request, serial_rs485& argument) {
  int result;
  do {
    result = ::ioctl(fd, request, &argument);
  } while (result < 0 && errno == EINTR);
  return result < 0 ? errno : 0;
}

class KernelRs485Ioctls final : public Rs485Ioctls {
 public:
  int Get(int fd, Rs485Config& config) override {
    serial_rs485 kernel{};
    if (int error = Ioctl(fd, TIOCGRS485, kernel)) return error;
    std::uint32_t words[8];
    std::memcpy(words, &kernel, sizeof words);
    config.flags = words[0];
    config.delayRtsBeforeSend = words[1];
    config.delayRtsAfterSend = words[2];
    std::memcpy(config.rest.data(), words + 3, sizeof config.rest);
    return 0;
  }

  int Set(int fd, const Rs485Config& config) override {
    std::uint32_t words[8] = {config.flags, config.delayRtsBeforeSend, config.delayRtsAfterSend};
    std::memcpy(words + 3, config.rest.data(), sizeof config.rest);
    serial_rs485 kernel{};
    std::memcpy(&kernel, words, sizeof kernel);
    return Ioctl(fd, TIOCSRS485, kernel);
  }
};

}  // namespace

Rs485Ioctls& SystemRs485Ioctls() {
  static KernelRs485Ioctls ioctls;
  return ioctls;
}

}  // namespace tavex::platform
