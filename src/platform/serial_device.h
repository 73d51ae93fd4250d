// SPDX-License-Identifier: GPL-3.0-or-later
// The serial driver stand-in: one object per open device, with the semantics of a comm driver
// (exclusive open, line settings, queue sizes, time-outs, purge, status, modem lines, event waits)
// built on termios, ioctls, poll() and a receive queue of our own.
//
// Every operation returns an Errno: kNoError on success; nothing here throws. The port object
// above turns these errno values into its numbered errors in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/system_code.h"

#include "platform/serial_rs485.h"

namespace tavex::platform {

// Line settings, the termios translation of a comm driver's device control block.
struct LineSettings {
  std::uint32_t baudRate = 9600;  // any rate; non-standard rates go through BOTHER
  bool discardNull = false;       // drop received 0x00 before it reaches the receive queue
  bool outxCtsFlow = false;       // transmit only while CTS is on (CRTSCTS)
  bool outxDsrFlow = false;       // transmit only while DSR is on (not in termios; best effort)
  std::uint8_t dtrControl = 0;    // 0 disable (DTR off), 1 enable (DTR on), 2 handshake
  std::uint8_t rtsControl = 0;    // 0 disable, 1 enable, 2 handshake (CRTSCTS), 3 toggle
  bool outX = false;              // Xon/Xoff on transmit (IXON)
  bool inX = false;               // Xon/Xoff on receive (IXOFF)
  bool dsrSensitivity = false;
  bool txContinueOnXoff = false;
  bool parityCheck = false;       // check received parity (INPCK, PARMRK)
  bool errorCharEnabled = false;  // replace a byte with a parity error by errorChar
  std::uint8_t errorChar = 0;
  std::uint16_t xonLim = 256;
  std::uint16_t xoffLim = 256;
  std::uint8_t byteSize = 8;  // 5..8
  std::uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  std::uint8_t xonChar = 17;
  std::uint8_t xoffChar = 19;
  std::uint8_t evtChar = 0;  // receiving it raises kEvRxFlag
};

// Time-outs in milliseconds with comm-driver semantics; kMaxDword is "all bits set".
struct Timeouts {
  static constexpr std::uint32_t kMaxDword = 0xFFFFFFFFu;
  std::uint32_t readInterval = 0;
  std::uint32_t readTotalMultiplier = 0;
  std::uint32_t readTotalConstant = 0;
  std::uint32_t writeTotalMultiplier = 0;
  std::uint32_t writeTotalConstant = 0;
};

// Purge flags.
inline constexpr std::uint32_t kPurgeTxAbort = 0x1;
inline constexpr std::uint32_t kPurgeRxAbort = 0x2;
inline constexpr std::uint32_t kPurgeTxClear = 0x4;
inline constexpr std::uint32_t kPurgeRxClear = 0x8;

// Error flags returned (and cleared) by ClearError.
inline constexpr std::uint32_t kCeRxOver = 0x1;
inline constexpr std::uint32_t kCeOverrun = 0x2;
inline constexpr std::uint32_t kCeRxParity = 0x4;
inline constexpr std::uint32_t kCeFrame = 0x8;
inline constexpr std::uint32_t kCeBreak = 0x10;
inline constexpr std::uint32_t kCeTxFull = 0x100;
inline constexpr std::uint32_t kCeIoe = 0x400;
inline constexpr std::uint32_t kCeMode = 0x8000;

// Modem status bits.
inline constexpr std::uint32_t kMsCtsOn = 0x10;
inline constexpr std::uint32_t kMsDsrOn = 0x20;
inline constexpr std::uint32_t kMsRingOn = 0x40;
inline constexpr std::uint32_t kMsRlsdOn = 0x80;

// Event mask bits.
inline constexpr std::uint32_t kEvRxChar = 0x1;
inline constexpr std::uint32_t kEvRxFlag = 0x2;
inline constexpr std::uint32_t kEvTxEmpty = 0x4;
inline constexpr std::uint32_t kEvCts = 0x8;
inline constexpr std::uint32_t kEvDsr = 0x10;
inline constexpr std::uint32_t kEvRlsd = 0x20;
inline constexpr std::uint32_t kEvBreak = 0x40;
inline constexpr std::uint32_t kEvErr = 0x80;
inline constexpr std::uint32_t kEvRing = 0x100;
inline constexpr std::uint32_t kEvRx80Full = 0x400;

struct CommStatus {
  std::uint32_t errors = 0;    // kCe* flags since the last call (then cleared)
  std::uint32_t inQueue = 0;   // bytes waiting to be read (our queue plus the kernel's)
  std::uint32_t outQueue = 0;  // bytes not yet sent
};

// One open serial device. Thread rules: one thread transfers (Read, Write, Purge, status calls)
// while one other thread may sit in WaitEvent; CancelWait may be called from any thread.
class SerialDevice {
 public:
  virtual ~SerialDevice() = default;
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;

  // Opens `path` for reading and writing, exclusively (flock and TIOCEXCL), in raw mode.
  // On failure returns nullptr and sets `error` (ENOENT, EBUSY, EACCES, ...); no descriptor leaks.
  // The driver's RS-485 mode is reached through `rs485` (a test passes a device of its own); the
  // device gives back, when it goes away, whatever its line settings changed there.
  static std::unique_ptr<SerialDevice> Open(const std::string& path, Errno& error,
                                            Rs485Ioctls& rs485 = SystemRs485Ioctls());

  // Queue sizes in bytes; the receive queue of our own holds `inputSize` bytes.
  virtual Errno SetupQueues(std::uint32_t inputSize, std::uint32_t outputSize) = 0;
  virtual Errno SetLineSettings(const LineSettings& settings) = 0;
  virtual Errno SetTimeouts(const Timeouts& timeouts) = 0;
  virtual Errno Purge(std::uint32_t flags) = 0;

  // Writes under the write time-outs; `written` is how many bytes the kernel accepted. A time-out
  // is not an error. A device that went away fails at once (EIO, ENXIO, ENODEV, ...).
  virtual Errno Write(const void* data, std::size_t length, std::size_t& written) = 0;
  // Reads under the read time-outs into `buffer`; `got` may be less than `length`, even 0.
  virtual Errno Read(void* buffer, std::size_t length, std::size_t& got) = 0;

  virtual Errno ClearError(CommStatus& status) = 0;
  virtual Errno ModemStatus(std::uint32_t& status) = 0;

  // Sets the events WaitEvent reports. Changing it while a wait is pending ends that wait with an
  // empty mask.
  virtual Errno SetEventMask(std::uint32_t mask) = 0;
  // Blocks until one of the masked events occurs (`occurred` gets them), the mask changes
  // (`occurred` 0), or CancelWait is called (returns ECANCELED). Never spins.
  virtual Errno WaitEvent(std::uint32_t& occurred) = 0;
  // Makes a pending or the next WaitEvent return ECANCELED until ResetCancel.
  virtual void CancelWait() = 0;
  virtual void ResetCancel() = 0;

 protected:
  SerialDevice() = default;
};

}  // namespace tavex::platform
