// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "serial/ComPort.h"
#include "serial/Handover.h"

namespace tavex {
namespace {

using namespace std::chrono_literals;

TEST(Handover, SendRunsOnTheServingThreadAndBlocksUntilServed) {
  THandover handover;
  std::atomic<bool> returned{false};
  std::thread::id ranOn;
  std::thread sender([&] {
    handover.Send([&] { ranOn = std::this_thread::get_id(); });
    returned = true;
    handover.Wake();
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(returned.load()) << "Send must wait for the owner";
  handover.ServeUntil([&] { return returned.load(); });
  sender.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(Handover, SendCarriesTheExceptionBackToTheSender) {
  THandover handover;
  std::string caught;
  std::atomic<bool> finished{false};
  std::thread sender([&] {
    try {
      handover.Send([] { throw EComPort(peModemStatusFailed, platform::Errno{5}); });
    } catch (const EComPort& e) {
      caught = e.what();
    }
    finished = true;
    handover.Wake();
  });
  handover.ServeUntil([&] { return finished.load(); });
  sender.join();
  EXPECT_EQ(caught, "GetCommModemStatus function failed (win error code: 5)");
}

TEST(Handover, PostedCallsRunInOrderAndWakeTheOwner) {
  THandover handover;
  std::atomic<int> wakeups{0};
  handover.SetWakeup([&] { ++wakeups; });
  std::vector<int> order;
  std::thread poster([&] {
    for (int i = 0; i < 5; ++i) handover.Post([&order, i] { order.push_back(i); });
  });
  poster.join();
  EXPECT_EQ(wakeups.load(), 5);
  EXPECT_EQ(handover.Serve(), 5);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(handover.Serve(), 0);
}

TEST(Handover, AFailingPostedCallIsReportedAndTheRestStillRun) {
  THandover handover;
  std::vector<std::string> reports;
  SetDefaultExceptionReporter([&](const std::exception& e) { reports.push_back(e.what()); });
  bool secondRan = false;
  handover.Post([] { throw std::runtime_error("boom"); });
  handover.Post([&] { secondRan = true; });
  EXPECT_EQ(handover.Serve(), 2);
  SetDefaultExceptionReporter(nullptr);
  EXPECT_TRUE(secondRan);
  EXPECT_EQ(reports, (std::vector<std::string>{"boom"}));
}

TEST(Handover, ManySendersAllServed) {
  THandover handover;
  std::atomic<int> ran{0};
  std::atomic<int> done{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < 4; ++t) {
    senders.emplace_back([&] {
      for (int i = 0; i < 100; ++i) handover.Send([&] { ++ran; });
      ++done;
      handover.Wake();
    });
  }
  handover.ServeUntil([&] { return done.load() == 4; });
  for (auto& s : senders) s.join();
  EXPECT_EQ(ran.load(), 400);
}

}  // namespace
}  // namespace tavex
