// SPDX-License-Identifier: GPL-3.0-or-later
// Splitting a settings file into lines while keeping each line's own ending, so that a rewrite can
// give back every untouched line exactly as it was read.
#pragma once

#include <string_view>
#include <vector>

namespace tavex::platform {

struct TextLine {
  std::string_view body;  // without its line end
  std::string_view full;  // with its line end, as it stands in the file
};

enum class LineEnds {
  CrLfOrLf,    // a line ends in LF (a CR before it belongs to the end): registry files
  AlsoBareCr,  // a bare CR ends a line too: profile files, as Windows reads them
};

std::vector<TextLine> SplitLines(std::string_view text, LineEnds ends);

}  // namespace tavex::platform
