// SPDX-License-Identifier: GPL-3.0-or-later
// The receive queue on its own: the byte-level rules a pseudo-terminal cannot exercise (parity
// errors, breaks, markings split across reads).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/serial_device.h"
#include "platform/serial_receive_queue.h"

namespace tavex::platform {
namespace {

std::uint32_t Feed(ReceiveQueue& queue, const std::string& raw) {
  return queue.Ingest(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size());
}

std::string Drain(ReceiveQueue& queue) {
  std::string out(queue.Size(), '\0');
  out.resize(queue.Pop(reinterpret_cast<std::uint8_t*>(out.data()), out.size()));
  return out;
}

struct MarkingCase {
  const char* name;
  std::vector<std::string> chunks;  // raw bytes as read, possibly split mid-marking
  bool replace;
  std::string expected;
  std::uint32_t errors;
  std::uint32_t events;  // besides kEvRxChar
};

// Names the case in test listings; the default printer would dump the raw bytes (pointers too).
void PrintTo(const MarkingCase& c, std::ostream* os) { *os << c.name; }

class ParityMarkingTest : public ::testing::TestWithParam<MarkingCase> {};

TEST_P(ParityMarkingTest, UndoesTheKernelsMarking) {
  const MarkingCase& c = GetParam();
  ReceiveQueue queue(64);
  ReceiveQueue::Options options;
  options.parityMarked = true;
  options.replaceErrors = c.replace;
  options.errorChar = '?';
  options.eventChar = '\n';
  queue.SetOptions(options);
  std::uint32_t events = 0;
  for (const std::string& chunk : c.chunks) events |= Feed(queue, chunk);
  EXPECT_EQ(Drain(queue), c.expected);
  EXPECT_EQ(queue.TakeErrors(), c.errors);
  EXPECT_EQ(events & ~kEvRxChar, c.events);
}

INSTANTIATE_TEST_SUITE_P(
    Markings, ParityMarkingTest,
    ::testing::Values(
        MarkingCase{"DataFF",
                    {"a\xFF\xFF"
                     "b"},
                    false,
                    "a\xFF"
                    "b",
                    0,
                    0},
        MarkingCase{"ErrorKept", {std::string("a\xFF\0x", 4)}, false, "ax", kCeRxParity, kEvErr},
        MarkingCase{"ErrorReplaced", {std::string("a\xFF\0x", 4)}, true, "a?", kCeRxParity, kEvErr},
        MarkingCase{"SplitAcrossReads",
                    {"a\xFF", std::string("\0", 1), "xb"},
                    true,
                    "a?b",
                    kCeRxParity,
                    kEvErr},
        MarkingCase{"SplitDataFF", {"\xFF", "\xFF"}, false, "\xFF", 0, 0},
        MarkingCase{"Break",
                    {std::string("\xFF\0\0z", 4)},
                    true,
                    std::string("\0z", 2),
                    kCeBreak,
                    kEvBreak},
        MarkingCase{"LoneFFKept",
                    {"\xFF"
                     "c"},
                    false,
                    "\xFF"
                    "c",
                    0,
                    0},
        MarkingCase{"EventCharWithAnError",
                    {std::string("\xFF\0\n", 3)},
                    false,
                    "\n",
                    kCeRxParity,
                    kEvErr | kEvRxFlag}),
    [](const ::testing::TestParamInfo<MarkingCase>& param) {
      return std::string(param.param.name);
    });

TEST(ReceiveQueueTest, WithoutMarkingEveryByteIsData) {
  ReceiveQueue queue(16);
  Feed(queue, std::string("\xFF\0x", 3));
  EXPECT_EQ(Drain(queue), std::string("\xFF\0x", 3));
  EXPECT_EQ(queue.TakeErrors(), 0u);
}

TEST(ReceiveQueueTest, ReplacementHappensBeforeNulStripping) {
  ReceiveQueue queue(16);
  ReceiveQueue::Options options;
  options.parityMarked = true;
  options.replaceErrors = true;
  options.errorChar = 0;
  options.discardNull = true;
  queue.SetOptions(options);
  EXPECT_EQ(Feed(queue, std::string("\xFF\0x\0y", 5)), kEvErr | kEvRxChar);
  EXPECT_EQ(Drain(queue), "y");
  EXPECT_EQ(queue.TakeErrors(), kCeRxParity);
}

TEST(ReceiveQueueTest, EightyPercentAndOverflowKeepTheQueueIntact) {
  ReceiveQueue queue(10);
  EXPECT_EQ(Feed(queue, "1234567"), kEvRxChar);
  EXPECT_EQ(Feed(queue, "8"), kEvRxChar | kEvRx80Full);
  EXPECT_EQ(Feed(queue, "9ABC"), kEvRxChar | kEvRx80Full | kEvErr);
  EXPECT_EQ(Feed(queue, "D"), kEvErr);  // nothing queued: no arrival
  EXPECT_EQ(queue.TakeErrors(), kCeRxOver);
  EXPECT_EQ(queue.TakeErrors(), 0u);
  std::uint8_t first[4];
  ASSERT_EQ(queue.Pop(first, 4), 4u);  // wrap the ring around
  Feed(queue, "EFGH");
  EXPECT_EQ(Drain(queue), "56789AEFGH");
}

TEST(ReceiveQueueTest, ResizeKeepsTheOldestBytes) {
  ReceiveQueue queue(8);
  Feed(queue, "abcdef");
  std::uint8_t skip[2];
  queue.Pop(skip, 2);
  Feed(queue, "ghij");  // wrapped: c d e f g h i j
  queue.Resize(5);
  EXPECT_EQ(queue.TakeErrors(), kCeRxOver);
  EXPECT_EQ(queue.Capacity(), 5u);
  EXPECT_EQ(Drain(queue), "cdefg");
  queue.Resize(32);
  Feed(queue, "klm");
  EXPECT_EQ(queue.TakeErrors(), 0u);
  EXPECT_EQ(Drain(queue), "klm");
}

TEST(ReceiveQueueTest, ClearForgetsAHalfReadMarking) {
  ReceiveQueue queue(8);
  ReceiveQueue::Options options;
  options.parityMarked = true;
  queue.SetOptions(options);
  Feed(queue, "a\xFF");
  queue.Clear();
  Feed(queue, "b");
  EXPECT_EQ(Drain(queue), "b");
}

}  // namespace
}  // namespace tavex::platform
