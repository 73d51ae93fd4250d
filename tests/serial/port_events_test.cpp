// SPDX-License-Identifier: GPL-3.0-or-later
// The event thread: where notifications run for each SyncMethod, the hand-over to the owner's
// thread (served here by the test, as the window's loop would), failures in handlers, and the
// hand-over that is still pending when the port closes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/pseudo_terminal.h"
#include "platform/serial_device.h"
#include "serial/ComPort.h"
#include "serial/ComThread.h"
#include "serial/Handover.h"
#include "support/scratch.h"

namespace tavex {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using test::ThreadCount;

// Waits up to two seconds for `done`, serving `handover` meanwhile when given.
bool Await(const std::function<bool()>& done, THandover* handover = nullptr) {
  auto deadline = Clock::now() + 2s;
  while (Clock::now() < deadline) {
    if (handover != nullptr) handover->Serve();
    if (done()) return true;
    std::this_thread::sleep_for(2ms);
  }
  return done();
}

class Events : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pty.Create(), 0);
    port.SetPort(pty.SlavePath());
    port.SetHandover(&handover);
    handover.SetWakeup([this] { ++queued; });
  }
  void TearDown() override {
    port.Close();
    SetDefaultExceptionReporter(nullptr);
  }
  void FarEndSends(const std::string& bytes) {
    ASSERT_EQ(::write(pty.MasterFd(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }
  platform::PseudoTerminal pty;
  THandover handover;
  std::atomic<int> queued{0};
  TComPort port;
};

TEST(EventMask, DeviceBitsAndMessageCodes) {
  EXPECT_EQ(EventsToMask(kAllComEvents), 0x5FFu);
  EXPECT_EQ(MaskToEvents(0x5FF), kAllComEvents);
  EXPECT_EQ(EventToMask(evRLSD), 32u);
  EXPECT_EQ(EventToMask(evRing), 256u);
  EXPECT_EQ(EventToMask(evRxFlag), 2u);
  EXPECT_EQ(EventToMask(evTxEmpty), 4u);
  EXPECT_EQ(MaskToEvents(0x200 | 0x1), TComEvents{evRxChar}) << "bits without an event drop";
}

TEST_F(Events, ThreadSyncDeliversOnTheOwnersThreadWhenServed) {
  std::vector<std::int32_t> counts;
  std::thread::id ranOn;
  port.OnRxChar = [&](TCustomComPort&, std::int32_t count) {
    counts.push_back(count);
    ranOn = std::this_thread::get_id();
  };
  port.Open();
  FarEndSends("abc");
  ASSERT_TRUE(Await([&] { return queued.load() > 0; }));
  EXPECT_TRUE(counts.empty()) << "nothing runs until the owner serves";
  ASSERT_TRUE(Await([&] { return !counts.empty(); }, &handover));
  EXPECT_EQ(counts, (std::vector<std::int32_t>{3}));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  std::string reply;
  EXPECT_EQ(port.ReadStr(reply, 19), 3) << "the bytes stay queued for the reader";
}

TEST_F(Events, BytesReadBeforeTheDeliveryRunsAreNotAnnounced) {
  int announced = 0;
  port.OnRxChar = [&](TCustomComPort&, std::int32_t) { ++announced; };
  port.Open();
  FarEndSends("abc");
  ASSERT_TRUE(Await([&] { return queued.load() > 0; }));
  std::string reply;
  EXPECT_EQ(port.ReadStr(reply, 19), 3);
  EXPECT_GE(handover.Serve(), 1);
  EXPECT_EQ(announced, 0);
}

TEST_F(Events, AFailingHandlerEndsOnlyTheEventThread) {
  std::vector<std::string> reports;
  SetDefaultExceptionReporter([&](const std::exception& e) { reports.push_back(e.what()); });
  int calls = 0;
  port.OnRxChar = [&](TCustomComPort&, std::int32_t) {
    ++calls;
    throw std::runtime_error("handler failed");
  };
  std::size_t before = ThreadCount();
  port.Open();
  ASSERT_EQ(ThreadCount(), before + 1);
  FarEndSends("a");
  ASSERT_TRUE(Await([&] { return !reports.empty(); }, &handover));
  EXPECT_EQ(reports, (std::vector<std::string>{"handler failed"}));
  ASSERT_TRUE(Await([&] { return ThreadCount() == before; }));

  // The port stays open and transfers keep working; no further notifications arrive.
  FarEndSends("bc");
  std::string reply, all;
  Await([&] {
    port.ReadStr(reply, 19);
    all += reply;
    return all.size() >= 3;
  });
  EXPECT_EQ(all, "abc");
  handover.Serve();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(port.WriteStr("R"), 1);
  EXPECT_NO_THROW(port.Close());
}

TEST_F(Events, APendingHandOverRunsDuringClose) {
  std::vector<std::string> log;
  port.OnRxChar = [&](TCustomComPort& p, std::int32_t) {
    log.push_back(p.Connected() ? "RxChar" : "RxChar(closed)");
  };
  port.OnBeforeClose = [&](TCustomComPort&) { log.push_back("BeforeClose"); };
  port.OnAfterClose = [&](TCustomComPort&) { log.push_back("AfterClose"); };
  port.Open();
  FarEndSends("xyz");
  ASSERT_TRUE(Await([&] { return queued.load() > 0; }));
  port.Close();  // must serve the waiting delivery, or it would never return
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeClose", "RxChar", "AfterClose"}));
  EXPECT_EQ(handover.Serve(), 0);
}

TEST_F(Events, WindowSyncPostsOneMessagePerOccurredEvent) {
  port.SetSyncMethod(smWindowSync);
  port.SetEvents({evRxChar, evError, evRing});
  std::vector<std::int32_t> counts;
  port.OnRxChar = [&](TCustomComPort&, std::int32_t count) { counts.push_back(count); };
  port.Open();
  FarEndSends("1234");
  ASSERT_TRUE(Await([&] { return queued.load() > 0; }));
  std::this_thread::sleep_for(50ms);
  int posted = queued.load();
  EXPECT_EQ(handover.Serve(), posted);
  ASSERT_EQ(counts.size(), static_cast<std::size_t>(posted)) << "one step per message";
  EXPECT_EQ(counts.front(), 4);
}

TEST_F(Events, WindowSyncMessagesDoNothingOnceThePortIsClosed) {
  port.SetSyncMethod(smWindowSync);
  int announced = 0;
  port.OnRxChar = [&](TCustomComPort&, std::int32_t) { ++announced; };
  TComNotifyTarget target(port, handover);
  target.Post(1);
  EXPECT_EQ(handover.Serve(), 1);
  EXPECT_EQ(announced, 0);
}

TEST_F(Events, WithoutSyncTheEventThreadRunsTheHandlers) {
  port.SetSyncMethod(smNone);
  std::mutex mutex;
  std::thread::id ranOn;
  std::atomic<int> count{0};
  port.OnRxChar = [&](TCustomComPort&, std::int32_t n) {
    std::lock_guard lock(mutex);
    ranOn = std::this_thread::get_id();
    count = n;
  };
  port.Open();
  FarEndSends("ab");
  ASSERT_TRUE(Await([&] { return count.load() == 2; }));
  EXPECT_EQ(queued.load(), 0) << "nothing handed over";
  std::lock_guard lock(mutex);
  EXPECT_NE(ranOn, std::this_thread::get_id());
}

// A real device on a pseudo-terminal whose driver refuses every event mask.
class MaskRefusingDevice final : public platform::SerialDevice {
 public:
  explicit MaskRefusingDevice(std::unique_ptr<platform::SerialDevice> real)
      : real_(std::move(real)) {}
  platform::Errno SetupQueues(std::uint32_t in, std::uint32_t out) override {
    return real_->SetupQueues(in, out);
  }
  platform::Errno SetLineSettings(const platform::LineSettings& s) override {
    return real_->SetLineSettings(s);
  }
  platform::Errno SetTimeouts(const platform::Timeouts& t) override {
    return real_->SetTimeouts(t);
  }
  platform::Errno Purge(std::uint32_t flags) override { return real_->Purge(flags); }
  platform::Errno Write(const void* data, std::size_t length, std::size_t& written) override {
    return real_->Write(data, length, written);
  }
  platform::Errno Read(void* buffer, std::size_t length, std::size_t& got) override {
    return real_->Read(buffer, length, got);
  }
  platform::Errno ClearError(platform::CommStatus& status) override {
    return real_->ClearError(status);
  }
  platform::Errno ModemStatus(std::uint32_t& status) override { return real_->ModemStatus(status); }
  platform::Errno SetEventMask(std::uint32_t) override { return platform::Errno{EINVAL}; }
  platform::Errno WaitEvent(std::uint32_t& occurred) override { return real_->WaitEvent(occurred); }
  void CancelWait() override { real_->CancelWait(); }
  void ResetCancel() override { real_->ResetCancel(); }

 private:
  std::unique_ptr<platform::SerialDevice> real_;
};

// A refused event mask does not fail the open: the failure is reported, no thread runs, and
// stopping the thread that never started returns at once.
TEST(PortEventThread, ARefusedEventMaskIsReportedAndTheOpenGoesOn) {
  platform::PseudoTerminal pty;
  ASSERT_EQ(pty.Create(), 0);
  platform::Errno error{};
  auto real = platform::SerialDevice::Open(pty.SlavePath(), error);
  ASSERT_NE(real, nullptr);
  MaskRefusingDevice device(std::move(real));
  std::vector<std::string> reports;
  SetDefaultExceptionReporter([&](const std::exception& e) { reports.emplace_back(e.what()); });
  TComPort port;
  {
    TComThread thread(port, device, kAllComEvents, smThreadSync, nullptr);
    EXPECT_TRUE(thread.Finished());
  }
  SetDefaultExceptionReporter({});
  EXPECT_EQ(reports, std::vector<std::string>{"WaitForEvent method failed (win error code: 22)"});
}

}  // namespace
}  // namespace tavex
