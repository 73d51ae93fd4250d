// SPDX-License-Identifier: GPL-3.0-or-later
// The serial driver's RS-485 mode (the kernel's TIOCGRS485 / TIOCSRS485): in it the driver
// switches RTS around every frame it sends, which turns a half-duplex line driver on and off.
//
// The mode belongs to the system: a board's device tree or the administrator switches it on for
// a port wired to an RS-485 transceiver, often with the RTS polarity and delays that transceiver
// needs. A port that is opened therefore leaves it as it finds it, unless its settings ask for
// RTS toggle; what the port itself changed it gives back when it closes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace tavex::platform {

// The driver's RS-485 settings, as the kernel's struct serial_rs485 holds them.
struct Rs485Config {
  std::uint32_t flags = 0;  // kRs485* bits
  std::uint32_t delayRtsBeforeSend = 0;
  std::uint32_t delayRtsAfterSend = 0;
  std::array<std::uint32_t, 5> rest{};  // address and padding words, handed back unchanged
  friend bool operator==(const Rs485Config&, const Rs485Config&) = default;
};

inline constexpr std::uint32_t kRs485Enabled = 1u << 0;       // SER_RS485_ENABLED
inline constexpr std::uint32_t kRs485RtsOnSend = 1u << 1;     // RTS level while sending
inline constexpr std::uint32_t kRs485RtsAfterSend = 1u << 2;  // RTS level after sending
inline constexpr std::uint32_t kRs485RxDuringTx = 1u << 4;    // the receiver hears the frame

// The two ioctls. The system's are SystemRs485Ioctls(); a test puts a device of its own in their
// place. Each returns 0 or an errno value; ENOTTY or EINVAL means the device has no RS-485 mode
// (pseudo-terminals, most USB adapters).
class Rs485Ioctls {
 public:
  virtual int Get(int fd, Rs485Config& config) = 0;
  virtual int Set(int fd, const Rs485Config& config) = 0;

 protected:
  ~Rs485Ioctls() = default;
};

Rs485Ioctls& SystemRs485Ioctls();

// What one open device's port did to its RS-485 mode. Apply follows the settings each time they
// reach the device; Restore gives back what Apply changed, before the device is closed.
class Rs485Mode {
 public:
  explicit Rs485Mode(Rs485Ioctls& ioctls = SystemRs485Ioctls()) : ioctls_(&ioctls) {}

  // RTS toggle asked for: the mode is switched on (RTS on while sending, off after) unless it is
  // on already, in which case its polarity and delays stay as the system set them. Not asked
  // for: the mode stays as the system set it, or is given back when an earlier Apply changed it.
  // `driverDrivesRts` tells whether the mode is on afterwards: RTS then belongs to the driver
  // and must not be set by hand. A device without the mode is no failure (mode off).
  int Apply(int fd, bool rtsToggle, bool& driverDrivesRts);

  // Gives back the mode the device had before Apply changed it; nothing when it changed nothing.
  int Restore(int fd);

  // Whether the device's mode is now other than the system left it.
  bool Changed() const { return original_.has_value(); }

 private:
  Rs485Ioctls* ioctls_;
  std::optional<Rs485Config> original_;
};

}  // namespace tavex::platform
