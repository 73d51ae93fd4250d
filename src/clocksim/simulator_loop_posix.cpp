// SPDX-License-Identifier: GPL-3.0-or-later
// The simulator's loop over the line descriptor: poll, read, paced writes.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "clocksim/clock_sim.h"
#include "clocksim/event_log.h"

namespace tavex::clocksim {
namespace {

timespec ToTimespec(std::chrono::nanoseconds d) {
  if (d.count() < 0) d = std::chrono::nanoseconds(0);
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(d.count() / 1000000000);
  ts.tv_nsec = static_cast<long>(d.count() % 1000000000);
  return ts;
}

}  // namespace

std::optional<SteadyTime> Simulator::NextWake() const {
  std::optional<SteadyTime> wake = reader_.Deadline();
  if (!outgoing_.empty() && !writeBlocked_) {
    SteadyTime due = outgoing_.front().due;
    if (nextByteDue_ && outgoing_.front().clock != 0) due = std::max(due, *nextByteDue_);
    wake = wake ? std::min(*wake, due) : due;
  }
  return wake;
}

// Writes every byte that is due, one write per byte, paced at the byte time. Gives false when
// the line fails.
bool Simulator::SendDue(int lineFd) {
  while (!outgoing_.empty() && !writeBlocked_) {
    Pending& p = outgoing_.front();
    if (sentOfFront_ == p.bytes.size()) {
      if (p.clock != 0) ++counts_.replies;
      outgoing_.pop_front();
      sentOfFront_ = 0;
      continue;
    }
    // An echo is no answer of ours: it goes back as the bytes came, unpaced, and leaves the
    // answers' pacing alone.
    const bool paced = p.clock != 0;
    SteadyTime due = p.due;
    if (nextByteDue_ && paced) due = std::max(due, *nextByteDue_);
    const SteadyTime now = SteadyClock::now();
    if (now < due) return true;

    const char byte = p.bytes[sentOfFront_];
    const ssize_t n = ::write(lineFd, &byte, 1);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        writeBlocked_ = true;
        return true;
      }
      lastError_ = errno;
      return false;
    }
    const SteadyTime sent = SteadyClock::now();
    if (log_) log_->Byte(sent, false, static_cast<std::uint8_t>(byte));
    ++counts_.bytesOut;
    ++sentOfFront_;
    if (!paced) continue;
    // Keep the byte rate; after a stall of the process, start again from now instead of
    // sending the delayed bytes in a burst.
    const auto byteTime = std::chrono::duration_cast<SteadyClock::duration>(options_.byteTime);
    nextByteDue_ = (now - due > byteTime) ? now + byteTime : due + byteTime;
  }
  return true;
}

RunEnd Simulator::Run(int lineFd, int stopFd) {
  reader_ = FrameReader(options_.resyncGap);
  outgoing_.clear();
  sentOfFront_ = 0;
  nextByteDue_.reset();
  hangUpNow_ = false;
  writeBlocked_ = false;
  lastError_ = 0;

  std::vector<ReceivedFrame> frames;
  for (;;) {
    frames.clear();
    reader_.Expire(SteadyClock::now(), frames);
    for (const ReceivedFrame& f : frames) Handle(f, SteadyClock::now());
    if (!SendDue(lineFd)) return RunEnd::LineGone;
    if (hangUpNow_) return RunEnd::HangUp;

    pollfd fds[2] = {{lineFd, static_cast<short>(POLLIN | (writeBlocked_ ? POLLOUT : 0)), 0},
                     {stopFd, POLLIN, 0}};
    const nfds_t count = stopFd >= 0 ? 2 : 1;
    timespec timeout{};
    const timespec* timeoutPtr = nullptr;
    if (const auto wake = NextWake()) {
      timeout = ToTimespec(*wake - SteadyClock::now());
      timeoutPtr = &timeout;
    }
    const int ready = ::ppoll(fds, count, timeoutPtr, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      lastError_ = errno;
      return RunEnd::LineGone;
    }
    if (count == 2 && (fds[1].revents & POLLIN) != 0) return RunEnd::Stopped;
    const short revents = fds[0].revents;
    if ((revents & POLLOUT) != 0) writeBlocked_ = false;
    if ((revents & POLLNVAL) != 0) {
      lastError_ = EBADF;
      return RunEnd::LineGone;
    }
    if ((revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    if (const std::optional<RunEnd> end = DrainLine(lineFd)) return *end;
  }
}

// Reads what has arrived and feeds it to the frame reader, answering every frame it completes;
// every byte of one read arrived at the same moment. Gives why the loop ends, if it does.
std::optional<RunEnd> Simulator::DrainLine(int lineFd) {
  unsigned char buffer[512];
  std::vector<ReceivedFrame> frames;
  for (;;) {
    const ssize_t n = ::read(lineFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return std::nullopt;
    if (n <= 0) {
      // End of file or an error such as EIO: the line is gone. Never poll it again, since a dead
      // descriptor stays readable and the loop would spin.
      lastError_ = n == 0 ? EIO : errno;
      return RunEnd::LineGone;
    }
    const SteadyTime at = SteadyClock::now();
    if (options_.echo) {
      // Queued before the frames these bytes complete are answered, so the echo goes first.
      outgoing_.push_back(Pending{
          std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n)), at, 0});
      counts_.echoed += static_cast<std::uint64_t>(n);
    }
    for (ssize_t i = 0; i < n; ++i) {
      const std::uint8_t byte = buffer[i];
      ++counts_.bytesIn;
      if (log_) log_->Byte(at, true, byte);
      frames.clear();
      reader_.Feed(byte, at, frames);
      for (const ReceivedFrame& f : frames) Handle(f, at);
    }
    if (hangUpNow_) return RunEnd::HangUp;
  }
}

}  // namespace tavex::clocksim
