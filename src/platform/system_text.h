// SPDX-License-Identifier: GPL-3.0-or-later
// What the system reports for a failure's code, in the operator's language: errno values worded
// as the C library words them, registry results as the registry store means them. The English
// texts go through the catalogue of the text domain "default"; a code without a text of its own
// is "System error N", translated too, so an operator never reads a bare number alone.
#pragma once

#include <string>
#include <vector>

#include "platform/system_code.h"

namespace tavex::platform {

std::string DescribeErrno(Errno code);
// The registry store's own results (a missing key or value, wrong type, ...) by their meaning. A
// hive file that fails gives an Errno, described by DescribeErrno.
std::string DescribeRegResult(RegResult code);

// Every English text the two offer to the catalogue, in order: the errno texts, the registry
// texts, then "System error %d".
std::vector<std::string> SystemCodeTexts();

}  // namespace tavex::platform
