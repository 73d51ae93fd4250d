// SPDX-License-Identifier: GPL-3.0-or-later
// The operator program's side of a simulated line, for the simulator tests: a simulator serving
// a pseudo-terminal on a thread of its own, and the slave end opened as the program opens it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "clocksim/clock_sim.h"
#include "clocksim/sim_line.h"
#include "platform/wall_clock.h"
#include "support/fixed_clock.h"

namespace tavex::clocksim::testing {

struct ReceivedByte {
  std::uint8_t byte;
  SteadyTime at;
};

class SimulatedLine {
 public:
  SimulatedLine(Options options, platform::CivilTime now)
      : clock_(now), simulator_(std::move(options), clock_) {
    if (line_.OpenPseudoTerminal() != 0) return;
    stop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    port_ = ::open(line_.PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    thread_ = std::thread([this] { end_ = static_cast<int>(simulator_.Run(line_.Fd(), stop_)); });
  }
  ~SimulatedLine() { Stop(); }

  bool Ready() const { return port_ >= 0 && stop_ >= 0 && thread_.joinable(); }

  // Ends the simulator's loop and waits for it.
  void Stop() {
    if (thread_.joinable()) {
      const std::uint64_t one = 1;
      [[maybe_unused]] ssize_t n = ::write(stop_, &one, sizeof one);
      thread_.join();
    }
    if (port_ >= 0) ::close(port_);
    if (stop_ >= 0) ::close(stop_);
    port_ = stop_ = -1;
  }

  // Waits for the loop to end by itself (a hang-up), at most `limit`.
  bool WaitForEnd(std::chrono::milliseconds limit) {
    const auto deadline = SteadyClock::now() + limit;
    while (SteadyClock::now() < deadline) {
      if (end_ >= 0) {
        thread_.join();
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // Sends the line image: 0x00, then the frame, one write per byte at the program's pace.
  void SendFrame(const std::string& frame,
                 std::chrono::milliseconds pace = std::chrono::milliseconds(2)) {
    SendRaw(std::string(1, '\0') + frame, pace);
  }
  void SendRaw(const std::string& bytes, std::chrono::milliseconds pace) {
    for (char c : bytes) {
      [[maybe_unused]] ssize_t n = ::write(port_, &c, 1);
      if (pace.count() > 0) std::this_thread::sleep_for(pace);
    }
  }

  // Reads until `count` bytes came or the line stayed quiet for `quiet` after the last byte (or
  // after the start, `first`).
  std::vector<ReceivedByte> Receive(
      std::size_t count, std::chrono::milliseconds first = std::chrono::milliseconds(1500),
      std::chrono::milliseconds quiet = std::chrono::milliseconds(150)) {
    std::vector<ReceivedByte> got;
    auto deadline = SteadyClock::now() + first;
    while (got.size() < count) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
      if (left.count() <= 0) break;
      pollfd pfd{port_, POLLIN, 0};
      if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
      unsigned char buffer[64];
      const ssize_t n = ::read(port_, buffer, sizeof buffer);
      if (n <= 0) break;
      const auto at = SteadyClock::now();
      for (ssize_t i = 0; i < n; ++i) got.push_back({buffer[i], at});
      deadline = at + quiet;
    }
    return got;
  }
  std::string ReceiveText(std::size_t count,
                          std::chrono::milliseconds first = std::chrono::milliseconds(1500)) {
    std::string text;
    for (const auto& b : Receive(count, first)) text.push_back(static_cast<char>(b.byte));
    return text;
  }

  int PortFd() const { return port_; }
  Simulator& Sim() { return simulator_; }
  std::optional<RunEnd> End() const {
    const int end = end_;
    return end < 0 ? std::nullopt : std::optional<RunEnd>(static_cast<RunEnd>(end));
  }

 private:
  test::FixedClock clock_;
  Simulator simulator_;
  SimLine line_;
  int stop_ = -1;
  int port_ = -1;
  std::thread thread_;
  std::atomic<int> end_{-1};
};

}  // namespace tavex::clocksim::testing
