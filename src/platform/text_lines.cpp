// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/text_lines.h"

#include <algorithm>

namespace tavex::platform {

std::vector<TextLine> SplitLines(std::string_view text, LineEnds ends) {
  const char* terminators = ends == LineEnds::AlsoBareCr ? "\r\n" : "\n";
  std::vector<TextLine> lines;
  while (!text.empty()) {
    std::size_t end = text.find_first_of(terminators);
    std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    if (end != std::string_view::npos && text.compare(end, 2, "\r\n") == 0) ++next;
    std::string_view body = text.substr(0, std::min(end, text.size()));
    if (ends == LineEnds::CrLfOrLf && body.ends_with('\r')) body.remove_suffix(1);
    lines.push_back(TextLine{body, text.substr(0, next)});
    text.remove_prefix(next);
  }
  return lines;
}

}  // namespace tavex::platform
