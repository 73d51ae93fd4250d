// SPDX-License-Identifier: GPL-3.0-or-later
// What the system reports for a failure's code: errno values and registry results each by their
// own meaning (13 is EACCES and also the registry's "invalid data"), unknown codes by number.
#include "platform/system_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <type_traits>

#include "platform/catalog.h"
#include "platform/registry.h"

namespace tavex::platform {
namespace {

// Neither kind of code is a bare number: each is made and read on purpose only.
static_assert(!std::is_convertible_v<int, RegResult> && !std::is_convertible_v<RegResult, int>);
static_assert(!std::is_convertible_v<int, Errno> && !std::is_convertible_v<Errno, int>);
static_assert(!std::is_convertible_v<Errno, RegResult> && !std::is_convertible_v<RegResult, Errno>);

class SystemText : public ::testing::Test {
 protected:
  // English: no language, so no catalogue is consulted.
  SystemText() {
    ::setenv("LANG", "C", 1);
    InitCatalogs();
  }
};

TEST_F(SystemText, ErrnoValuesAndRegistryResultsEachByTheirOwnMeaning) {
  struct Case {
    const char* name;
    std::string said;
    const char* expected;
  };
  const Case cases[] = {
      {"EIO", DescribeErrno(Errno{EIO}), "Input/output error"},
      {"EACCES", DescribeErrno(Errno{EACCES}), "Permission denied"},
      {"EBUSY", DescribeErrno(Errno{EBUSY}), "Device or resource busy"},
      {"ENOENT", DescribeErrno(Errno{ENOENT}), "No such file or directory"},
      {"EFBIG", DescribeErrno(Errno{EFBIG}), "File too large"},
      {"unknown errno", DescribeErrno(Errno{4321}), "System error 4321"},
      {"EROFS", DescribeErrno(Errno{EROFS}), "Read-only file system"},
      {"missing key", DescribeRegResult(RegResult::kFileNotFound),
       "The registry key or value does not exist"},
      {"13 of the registry", DescribeRegResult(RegResult::kInvalidData),
       "Permission denied, or a registry value of the wrong type"},
      {"no more items", DescribeRegResult(RegResult::kNoMoreItems), "No more registry values"},
      // A number that is no result of the registry's own is never read as an errno value.
      {"5 is no registry result", DescribeRegResult(RegResult{5}), "System error 5"},
      {"unknown registry result", DescribeRegResult(RegResult{4321}), "System error 4321"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.said, c.expected) << c.name;
}

TEST_F(SystemText, EveryTextIsOfferedOnceToTheCatalogue) {
  const std::vector<std::string> texts = SystemCodeTexts();
  EXPECT_EQ(std::set<std::string>(texts.begin(), texts.end()).size(), texts.size());
  EXPECT_EQ(texts.back(), "System error %d");
}

}  // namespace
}  // namespace tavex::platform
