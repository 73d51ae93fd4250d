// SPDX-License-Identifier: GPL-3.0-or-later
// The serial driver stand-in on Linux: a terminal device in raw mode, drained into a receive
// queue of our own that implements what termios lacks (NUL stripping, the event character,
// parity-error replacement, the 80 % and overflow marks, arrival-based events), and comm-driver
// time-outs as deadlines in poll() loops.
//
// Two threads use one device: the transferring thread (Read, Write, Purge, status calls) and
// the thread sitting in WaitEvent. Both drain the device into the queue, so everything below is
// guarded by one mutex, and each side has an eventfd the other side signals when it changed
// something the sleeper must see (bytes queued, a mask change, a cancel, an abort).
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "platform/exclusive_tty.h"
#include "platform/serial_device.h"
#include "platform/serial_receive_queue.h"
#include "platform/serial_tty.h"
#include "platform/unique_fd.h"

namespace tavex::platform {
namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// Time-outs at least this long mean "no limit"; it also keeps the clock arithmetic in range.
constexpr std::uint64_t kNoLimitMs = std::uint64_t{1} << 40;
constexpr std::uint32_t kDefaultQueueSize = 4096;
constexpr std::uint32_t kMaxQueueSize = 16u << 20;
// Modem lines and line-error counters have no readiness to poll for: they are sampled.
constexpr Milliseconds kLineSamplePeriod{100};
// How often the output queue is looked at while a transmit-empty event is due.
constexpr Milliseconds kTxEmptySamplePeriod{10};
// At most this much is pulled from the kernel in one go, so a flood cannot pin the mutex.
constexpr std::size_t kMaxDrainBytes = 64 * 1024;

constexpr std::uint32_t kModemEvents = kEvCts | kEvDsr | kEvRlsd | kEvRing;
constexpr std::uint32_t kCounterEvents = kEvBreak | kEvErr;

int MillisecondsUntil(Clock::time_point deadline, Clock::time_point now) {
  if (deadline <= now) return 0;
  auto ms = std::chrono::ceil<Milliseconds>(deadline - now).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// multiplier * count + constant in milliseconds, or nothing when that is "no limit".
std::optional<Clock::time_point> TotalDeadline(Clock::time_point start, std::uint32_t multiplier,
                                               std::size_t count, std::uint32_t constant) {
  if (multiplier == 0 && constant == 0) return std::nullopt;
  if (multiplier != 0 && count >= kNoLimitMs / multiplier) return std::nullopt;
  std::uint64_t total = std::uint64_t{multiplier} * count + constant;
  if (total >= kNoLimitMs) return std::nullopt;
  return start + Milliseconds(static_cast<Milliseconds::rep>(total));
}

// An eventfd used as a level-triggered wake-up for one sleeping thread.
class Wakeup {
 public:
  explicit Wakeup(UniqueFd fd) : fd_(std::move(fd)) {}

  int Fd() const { return fd_.Get(); }
  void Signal() const {
    std::uint64_t one = 1;
    // EAGAIN only when the counter is saturated, and then it is signalled anyway.
    [[maybe_unused]] ssize_t n = ::write(fd_.Get(), &one, sizeof one);
  }
  void Clear() const {
    std::uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(fd_.Get(), &value, sizeof value);
  }

 private:
  UniqueFd fd_;
};

// How one Read call ends, from the read time-outs in force when it starts.
struct ReadPlan {
  bool returnAtOnce = false;  // take whatever is queued and return
  bool firstArrival = false;  // return as soon as something has arrived
  std::optional<Clock::time_point> totalDeadline;
  std::optional<Milliseconds> interval;  // longest gap between two bytes
};

ReadPlan PlanRead(const Timeouts& t, Clock::time_point start, std::size_t length) {
  constexpr std::uint32_t kMax = Timeouts::kMaxDword;
  ReadPlan plan;
  // Interval MAXDWORD with no totals: whatever is queued, at once.
  plan.returnAtOnce =
      t.readInterval == kMax && t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
  // Interval and multiplier MAXDWORD with a real constant: the first byte(s), within constant.
  plan.firstArrival = t.readInterval == kMax && t.readTotalMultiplier == kMax &&
                      t.readTotalConstant > 0 && t.readTotalConstant < kMax;
  if (plan.firstArrival) {
    plan.totalDeadline = start + Milliseconds(t.readTotalConstant);
  } else if (!plan.returnAtOnce) {
    plan.totalDeadline = TotalDeadline(start, t.readTotalMultiplier, length, t.readTotalConstant);
    if (t.readInterval != 0) plan.interval = Milliseconds(t.readInterval);
  }
  return plan;
}

class PosixSerialDevice final : public SerialDevice {
 public:
  PosixSerialDevice(ExclusiveTty line, UniqueFd transferWake, UniqueFd waitWake, Rs485Ioctls& rs485)
      : fd_(line.Fd()),
        transferWake_(std::move(transferWake)),
        waitWake_(std::move(waitWake)),
        queue_(kDefaultQueueSize),
        rs485_(rs485),
        tty_(std::move(line)) {
    std::uint32_t lines = 0;
    modemSupported_ = !tty::IsUnsupported(tty::ModemLines(fd_, lines));
    tty::LineCounters counters;
    countersSupported_ = !tty::IsUnsupported(tty::ReadLineCounters(fd_, counters));
    clearCounters_ = waitCounters_ = counters;
    lastModem_ = lines;
  }

  ~PosixSerialDevice() override {
    // Nobody is left to hear of a failure here: a device that went away has no mode to give
    // back.
    std::lock_guard lock(mu_);
    rs485_.Restore(fd_);
  }
  PosixSerialDevice(const PosixSerialDevice&) = delete;
  PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

  Errno SetupQueues(std::uint32_t inputSize, std::uint32_t /*outputSize*/) override {
    // The kernel's output queue has a fixed size; only the receive queue is ours. A size of 0
    // asks for no particular size and keeps the queue as it is.
    if (inputSize > kMaxQueueSize) return Errno{ENOMEM};
    std::lock_guard lock(mu_);
    if (inputSize == 0 || inputSize == queue_.Capacity()) return kNoError;
    try {
      queue_.Resize(inputSize);
    } catch (const std::bad_alloc&) {
      return Errno{ENOMEM};
    }
    return kNoError;
  }

  Errno SetLineSettings(const LineSettings& settings) override {
    if (!tty::LineSettingsValid(settings)) return Errno{EINVAL};
    std::lock_guard lock(mu_);
    bool driverDrivesRts = false;
    if (int error = rs485_.Apply(fd_, settings.rtsControl == 3, driverDrivesRts))
      return Errno{error};
    if (int error = tty::ConfigureLine(fd_, settings, driverDrivesRts)) return Errno{error};
    ReceiveQueue::Options options;
    options.discardNull = settings.discardNull;
    options.parityMarked = settings.parityCheck;
    options.replaceErrors = settings.parityCheck && settings.errorCharEnabled;
    options.errorChar = settings.errorChar;
    options.eventChar = settings.evtChar;
    queue_.SetOptions(options);
    // With handshaking on the receive side the kernel's buffer is what throttles the sender,
    // so bytes stay there while our queue is full instead of being dropped.
    holdInput_ = settings.inX || settings.outxCtsFlow || settings.rtsControl == 2;
    return kNoError;
  }

  Errno SetTimeouts(const Timeouts& timeouts) override {
    std::lock_guard lock(mu_);
    timeouts_ = timeouts;
    return kNoError;
  }

  Errno Purge(std::uint32_t flags) override {
    std::lock_guard lock(mu_);
    if (flags & kPurgeRxAbort) ++rxAbortCount_;
    if (flags & kPurgeTxAbort) ++txAbortCount_;
    if (flags & (kPurgeRxAbort | kPurgeTxAbort)) transferWake_.Signal();
    if (flags & kPurgeRxClear) queue_.Clear();
    if (flags & kPurgeTxClear) txPending_ = false;
    return Errno{tty::Flush(fd_, (flags & kPurgeRxClear) != 0, (flags & kPurgeTxClear) != 0)};
  }

  Errno Write(const void* data, std::size_t length, std::size_t& written) override {
    written = 0;
    if (length == 0) return kNoError;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::unique_lock lock(mu_);
    if (hungUp_) return Errno{hangupError_};
    const auto deadline = TotalDeadline(Clock::now(), timeouts_.writeTotalMultiplier, length,
                                        timeouts_.writeTotalConstant);
    const std::uint64_t abortCount = txAbortCount_;
    for (;;) {
      transferWake_.Clear();
      ssize_t n = ::write(fd_, bytes + written, length - written);
      if (n > 0) {
        written += static_cast<std::size_t>(n);
        if (mask_ & kEvTxEmpty) {
          txPending_ = true;
          if (waiting_) waitWake_.Signal();
        }
        if (written == length) return kNoError;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        int error = errno;
        NoteHangupLocked(error);
        return Errno{error};
      }
      if (txAbortCount_ != abortCount) return kNoError;
      const auto now = Clock::now();
      if (deadline && now >= *deadline)
        return kNoError;  // a time-out is a short count, not an error
      pollfd fds[2] = {{fd_, POLLOUT, 0}, {transferWake_.Fd(), POLLIN, 0}};
      lock.unlock();
      int ready = ::poll(fds, 2, deadline ? MillisecondsUntil(*deadline, now) : -1);
      int pollError = errno;
      lock.lock();
      if (ready < 0 && pollError != EINTR) return Errno{pollError};
      if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
        // One more attempt reports the device's own error; a device that only says "hang-up"
        // fails with EIO rather than being polled again.
        n = ::write(fd_, bytes + written, length - written);
        if (n > 0) {
          written += static_cast<std::size_t>(n);
          if (written == length) return kNoError;
        }
        int error = n < 0 && errno != EAGAIN && errno != EINTR ? errno : EIO;
        NoteHangupLocked(error);
        return Errno{error};
      }
    }
  }

  Errno Read(void* buffer, std::size_t length, std::size_t& got) override {
    got = 0;
    if (length == 0) return kNoError;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::unique_lock lock(mu_);
    const ReadPlan plan = PlanRead(timeouts_, Clock::now(), length);
    const auto& [returnAtOnce, firstArrival, totalDeadline, interval] = plan;
    std::optional<Clock::time_point> intervalDeadline;
    const std::uint64_t abortCount = rxAbortCount_;
    readPending_ = true;
    struct PendingReset {
      bool& flag;
      ~PendingReset() { flag = false; }
    } pendingReset{readPending_};

    for (;;) {
      transferWake_.Clear();
      int error = DrainLocked();
      const bool wasFull = queue_.Full();
      std::size_t n = queue_.Pop(out + got, length - got);
      if (n > 0) {
        got += n;
        // The gap between bytes is counted from the last arrival we took.
        if (interval) intervalDeadline = Clock::now() + *interval;
        if (wasFull && holdInput_ && waiting_) waitWake_.Signal();
      }
      if (got == length) return kNoError;
      // Bytes already taken are delivered; the next read reports the failure.
      if (error != 0) return Errno{got > 0 ? 0 : error};
      if (returnAtOnce || (firstArrival && got > 0) || rxAbortCount_ != abortCount) return kNoError;

      const auto now = Clock::now();
      std::optional<Clock::time_point> deadline = totalDeadline;
      if (intervalDeadline && (!deadline || *intervalDeadline < *deadline)) {
        deadline = intervalDeadline;
      }
      if (deadline && now >= *deadline) return kNoError;
      pollfd fds[2] = {{fd_, POLLIN, 0}, {transferWake_.Fd(), POLLIN, 0}};
      lock.unlock();
      int ready = ::poll(fds, 2, deadline ? MillisecondsUntil(*deadline, now) : -1);
      int pollError = errno;
      lock.lock();
      if (ready < 0 && pollError != EINTR) return Errno{got > 0 ? 0 : pollError};
      if (ready > 0 && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
        // Take what is still there, then fail: a hung-up device is not polled again.
        error = DrainLocked();
        got += queue_.Pop(out + got, length - got);
        if (error == 0) {
          NoteHangupLocked(EIO);
          error = EIO;
        }
        return Errno{got > 0 ? 0 : error};
      }
    }
  }

  Errno ClearError(CommStatus& status) override {
    std::lock_guard lock(mu_);
    // Pull in what has arrived so that the count and the errors are current. A hung-up device
    // shows as kCeIoe in the errors rather than as a failure of the status call itself.
    DrainLocked();
    status.errors = queue_.TakeErrors();
    if (countersSupported_ && !hungUp_) {
      tty::LineCounters now;
      int error = tty::ReadLineCounters(fd_, now);
      if (error == 0) {
        if (now.frame != clearCounters_.frame) status.errors |= kCeFrame;
        if (now.overrun != clearCounters_.overrun) status.errors |= kCeOverrun;
        if (now.parity != clearCounters_.parity) status.errors |= kCeRxParity;
        if (now.brk != clearCounters_.brk) status.errors |= kCeBreak;
        clearCounters_ = now;
      } else if (tty::IsUnsupported(error)) {
        countersSupported_ = false;
      }
    }
    std::uint32_t kernelIn = 0;
    std::uint32_t kernelOut = 0;
    if (!hungUp_) {
      tty::InputQueue(fd_, kernelIn);
      tty::OutputQueue(fd_, kernelOut);
    }
    status.inQueue = static_cast<std::uint32_t>(queue_.Size()) + kernelIn;
    status.outQueue = kernelOut;
    return kNoError;
  }

  Errno ModemStatus(std::uint32_t& status) override {
    int error = tty::ModemLines(fd_, status);
    if (tty::IsUnsupported(error)) {
      status = 0;  // no modem lines (pseudo-terminal): all signals off
      return kNoError;
    }
    return Errno{error};
  }

  Errno SetEventMask(std::uint32_t mask) override {
    std::lock_guard lock(mu_);
    // Bytes that came before this call arrived under the old mask: taken in now, they raise
    // nothing under the new one, as a comm driver only reports arrivals while the mask holds.
    const bool wasHungUp = hungUp_;
    if (!hungUp_) DrainLocked();
    mask_ = mask;
    pending_ = 0;
    if (!wasHungUp && hungUp_) RaiseLocked(kEvErr);  // a hang-up found just now is still news
    ++maskGeneration_;
    // New baselines, so that only changes after this call are reported.
    if (modemSupported_ && !hungUp_) tty::ModemLines(fd_, lastModem_);
    if (countersSupported_ && !hungUp_) tty::ReadLineCounters(fd_, waitCounters_);
    nextSample_ = Clock::now() + kLineSamplePeriod;
    if (!(mask & kEvTxEmpty)) txPending_ = false;
    if (waiting_) waitWake_.Signal();
    return kNoError;
  }

  Errno WaitEvent(std::uint32_t& occurred) override {
    occurred = 0;
    std::unique_lock lock(mu_);
    if (cancelled_) return Errno{ECANCELED};
    if (waiting_) return Errno{EBUSY};
    waiting_ = true;
    struct WaitingReset {
      bool& flag;
      ~WaitingReset() { flag = false; }
    } waitingReset{waiting_};
    const std::uint64_t generation = maskGeneration_;

    for (;;) {
      waitWake_.Clear();
      if (cancelled_) return Errno{ECANCELED};
      if (maskGeneration_ != generation) return kNoError;  // the mask changed: end with nothing
      if (!hungUp_) DrainLocked();
      const auto now = Clock::now();
      SampleLinesLocked(now);
      if (pending_ != 0) {
        occurred = pending_;
        pending_ = 0;
        return kNoError;
      }

      // A hung-up device is left out of the poll: it would report POLLHUP for ever.
      const bool watchDevice = !hungUp_;
      const bool watchInput = !(holdInput_ && queue_.Full());
      std::optional<Clock::time_point> wakeAt;
      if (watchDevice && SamplesLinesLocked()) wakeAt = nextSample_;
      if (watchDevice && txPending_ && (mask_ & kEvTxEmpty)) {
        auto txCheck = now + kTxEmptySamplePeriod;
        if (!wakeAt || txCheck < *wakeAt) wakeAt = txCheck;
      }
      pollfd fds[2] = {{waitWake_.Fd(), POLLIN, 0},
                       {fd_, static_cast<short>(watchInput ? POLLIN : 0), 0}};
      lock.unlock();
      int ready = ::poll(fds, watchDevice ? 2 : 1, wakeAt ? MillisecondsUntil(*wakeAt, now) : -1);
      int pollError = errno;
      lock.lock();
      if (ready < 0 && pollError != EINTR) return Errno{pollError};
      if (ready > 0 && watchDevice && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) &&
          !hungUp_) {
        if (DrainLocked() == 0) NoteHangupLocked(EIO);
      }
    }
  }

  void CancelWait() override {
    std::lock_guard lock(mu_);
    cancelled_ = true;
    waitWake_.Signal();
  }

  void ResetCancel() override {
    std::lock_guard lock(mu_);
    cancelled_ = false;
  }

 private:
  // Pulls everything the kernel has into the queue. Returns 0, or the error of a device that
  // is gone (a read of 0 bytes counts as EIO), which is then remembered.
  int DrainLocked() {
    if (hungUp_) return hangupError_;
    std::uint8_t chunk[4096];
    std::size_t drained = 0;
    while (drained < kMaxDrainBytes) {
      std::size_t want = sizeof chunk;
      if (holdInput_) {
        // Each byte read yields at most one queued byte, so this never overflows.
        want = std::min(want, queue_.Free());
        if (want == 0) break;
      }
      ssize_t n = ::read(fd_, chunk, want);
      if (n > 0) {
        Ingest(chunk, static_cast<std::size_t>(n));
        drained += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      // VMIN is 1, so 0 bytes from a non-blocking read means the other side hung up.
      int error = n == 0 ? EIO : errno;
      NoteHangupLocked(error);
      return error;
    }
    return 0;
  }

  void Ingest(const std::uint8_t* bytes, std::size_t count) {
    const std::uint32_t events = queue_.Ingest(bytes, count);
    if ((events & kEvRxChar) && readPending_) transferWake_.Signal();
    RaiseLocked(events);
  }

  void RaiseLocked(std::uint32_t events) {
    events &= mask_;
    if (events == 0) return;
    pending_ |= events;
    if (waiting_) waitWake_.Signal();
  }

  void NoteHangupLocked(int error) {
    if (hungUp_) return;
    hungUp_ = true;
    hangupError_ = error;
    txPending_ = false;
    queue_.AddErrors(kCeIoe);
    RaiseLocked(kEvErr);  // once; afterwards the wait sleeps until cancelled or re-masked
  }

  bool SamplesLinesLocked() const {
    return (modemSupported_ && (mask_ & kModemEvents)) ||
           (countersSupported_ && (mask_ & kCounterEvents));
  }

  void SampleLinesLocked(Clock::time_point now) {
    if (hungUp_) return;
    if (txPending_ && (mask_ & kEvTxEmpty)) {
      std::uint32_t outQueue = 0;
      const int error = tty::OutputQueue(fd_, outQueue);
      if (error != 0 && !tty::IsUnsupported(error)) {
        NoteHangupLocked(error);
      } else if (outQueue == 0) {
        // Without an output count the bytes the kernel accepted are taken as sent.
        txPending_ = false;
        RaiseLocked(kEvTxEmpty);
      }
    }
    if (!SamplesLinesLocked() || now < nextSample_) return;
    nextSample_ = now + kLineSamplePeriod;
    if (modemSupported_ && (mask_ & kModemEvents)) {
      std::uint32_t lines = 0;
      const int error = tty::ModemLines(fd_, lines);
      if (error == 0) {
        const std::uint32_t changed = lines ^ lastModem_;
        lastModem_ = lines;
        std::uint32_t events = 0;
        if (changed & kMsCtsOn) events |= kEvCts;
        if (changed & kMsDsrOn) events |= kEvDsr;
        if (changed & kMsRlsdOn) events |= kEvRlsd;
        if (changed & kMsRingOn) events |= kEvRing;
        RaiseLocked(events);
      } else if (tty::IsUnsupported(error)) {
        modemSupported_ = false;  // stop sampling a device that has no modem lines
      } else {
        NoteHangupLocked(error);
      }
    }
    if (countersSupported_ && (mask_ & kCounterEvents)) {
      tty::LineCounters counters;
      const int error = tty::ReadLineCounters(fd_, counters);
      if (error == 0) {
        std::uint32_t events = 0;
        if (counters.brk != waitCounters_.brk) events |= kEvBreak;
        if (counters.frame != waitCounters_.frame || counters.overrun != waitCounters_.overrun ||
            counters.parity != waitCounters_.parity) {
          events |= kEvErr;
        }
        waitCounters_ = counters;
        RaiseLocked(events);
      } else if (tty::IsUnsupported(error)) {
        countersSupported_ = false;
      } else {
        NoteHangupLocked(error);
      }
    }
  }

  const int fd_;               // tty_'s descriptor
  const Wakeup transferWake_;  // wakes Read/Write: bytes queued by the other thread, aborts
  const Wakeup waitWake_;      // wakes WaitEvent: events raised, mask change, cancel

  std::mutex mu_;
  ReceiveQueue queue_;
  bool holdInput_ = false;
  Timeouts timeouts_;

  std::uint32_t mask_ = 0;
  std::uint32_t pending_ = 0;  // masked events not yet reported
  std::uint64_t maskGeneration_ = 0;
  bool waiting_ = false;
  bool cancelled_ = false;
  bool readPending_ = false;
  bool txPending_ = false;  // written bytes whose transmit-empty event is still due
  std::uint64_t rxAbortCount_ = 0;
  std::uint64_t txAbortCount_ = 0;

  bool hungUp_ = false;
  int hangupError_ = 0;

  bool modemSupported_ = false;
  bool countersSupported_ = false;
  std::uint32_t lastModem_ = 0;
  tty::LineCounters waitCounters_;   // baseline of the event wait's sampling
  tty::LineCounters clearCounters_;  // baseline of ClearError
  Clock::time_point nextSample_{};
  Rs485Mode rs485_;  // what the line settings did to the driver's RS-485 mode

  // Last, so that the device is closed first (and its exclusive mode given up) when the object
  // goes away.
  ExclusiveTty tty_;
};

}  // namespace

std::unique_ptr<SerialDevice> SerialDevice::Open(const std::string& path, Errno& error,
                                                 Rs485Ioctls& rs485) {
  ExclusiveTty line;
  error = Errno{line.Open(path)};
  if (error != kNoError) return nullptr;
  UniqueFd transferWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!transferWake) {
    error = Errno{errno};
    return nullptr;
  }
  UniqueFd waitWake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!waitWake) {
    error = Errno{errno};
    return nullptr;
  }
  try {
    return std::make_unique<PosixSerialDevice>(std::move(line), std::move(transferWake),
                                               std::move(waitWake), rs485);
  } catch (const std::bad_alloc&) {
    error = Errno{ENOMEM};
    return nullptr;
  }
}

}  // namespace tavex::platform
