// SPDX-License-Identifier: GPL-3.0-or-later
// The descriptor owner and the exclusive terminal open built on it, on pipes and real
// pseudo-terminals.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <utility>

#include "platform/exclusive_tty.h"
#include "platform/pseudo_terminal.h"
#include "platform/unique_fd.h"

namespace tavex::platform {
namespace {

bool IsOpenDescriptor(int fd) {
  return ::fcntl(fd, F_GETFD) != -1;
}

TEST(UniqueFdTest, OwnsExactlyOneDescriptorThroughMovesAndResets) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  const int readEnd = ends[0];
  const int writeEnd = ends[1];
  {
    UniqueFd a(readEnd);
    UniqueFd b(std::move(a));
    EXPECT_FALSE(a.IsOpen());  // NOLINT(bugprone-use-after-move): a moved-from owner is empty
    EXPECT_EQ(b.Get(), readEnd);
    b = std::move(b);  // a self-move keeps the descriptor
    EXPECT_TRUE(IsOpenDescriptor(readEnd));
    UniqueFd c(writeEnd);
    c = std::move(b);  // the write end is closed, the read end changes hands
    EXPECT_FALSE(IsOpenDescriptor(writeEnd));
    EXPECT_EQ(c.Get(), readEnd);
    c.Reset(readEnd);  // resetting to the same descriptor does not close it
    EXPECT_TRUE(IsOpenDescriptor(readEnd));
  }
  EXPECT_FALSE(IsOpenDescriptor(readEnd)) << "closed when its owner went away";
}

TEST(UniqueFdTest, ReleaseHandsOverAndCloseReportsFailure) {
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  UniqueFd writeEnd(ends[1]);
  {
    UniqueFd readEnd(ends[0]);
    EXPECT_EQ(readEnd.Release(), ends[0]);
  }
  EXPECT_TRUE(IsOpenDescriptor(ends[0])) << "a released descriptor is the caller's";
  UniqueFd again(ends[0]);
  EXPECT_EQ(again.Close(), 0);
  EXPECT_EQ(again.Close(), 0) << "nothing held, nothing to report";
  // A descriptor someone else already closed: the failure comes back as its errno.
  const int stolen = writeEnd.Get();
  ASSERT_EQ(::close(stolen), 0);
  EXPECT_EQ(writeEnd.Close(), EBADF);
}

TEST(ExclusiveTtyTest, HoldsTheLineAloneAndGivesItBackOnClose) {
  PseudoTerminal pty;
  ASSERT_EQ(pty.Create(), 0);
  ExclusiveTty first;
  ASSERT_EQ(first.Open(pty.SlavePath()), 0);
  EXPECT_TRUE(first.Exclusive());
  ExclusiveTty second;
  EXPECT_EQ(second.Open(pty.SlavePath()), EBUSY);
  EXPECT_FALSE(second.IsOpen());
  // A move keeps the line held; closing gives up the kernel's exclusive flag too, which on a
  // pseudo-terminal would otherwise outlive the descriptor.
  ExclusiveTty moved(std::move(first));
  EXPECT_EQ(second.Open(pty.SlavePath()), EBUSY);
  moved.Close();
  ASSERT_EQ(second.Open(pty.SlavePath()), 0);
  second.Close();
  const int plain = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  EXPECT_GE(plain, 0) << "errno " << errno;
  if (plain >= 0) ::close(plain);
  EXPECT_EQ(second.Open("/dev/null"), ENOTTY);
  EXPECT_FALSE(second.IsOpen());
}

}  // namespace
}  // namespace tavex::platform
