// SPDX-License-Identifier: GPL-3.0-or-later
#include "comparison.h"

#include <algorithm>
#include <sstream>

namespace conformance {

std::vector<Case> SplitCases(const std::string& text) {
  std::vector<Case> cases(1);
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("case ", 0) == 0) {
      cases.push_back(Case{line.substr(5), {}});
    } else {
      cases.back().lines.push_back(line);
    }
  }
  return cases;
}

std::vector<Fault> ParseFaults(const std::string& text) {
  std::vector<Fault> faults;
  std::istringstream in(text);
  std::string line;
  std::string wine;
  while (std::getline(in, line)) {
    if (line.rfind("fault ", 0) == 0) {
      std::istringstream words(line.substr(6));
      Fault fault;
      words >> fault.sequence >> fault.caseName;
      faults.push_back(fault);
    } else if (line.rfind("wine|", 0) == 0) {
      wine = line.substr(5);
    } else if (line.rfind("windows|", 0) == 0 && !faults.empty()) {
      faults.back().lines.emplace_back(wine, line.substr(8));
    }
  }
  return faults;
}

void Comparison::LoadKnown(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string sequence;
    std::string caseName;
    words >> sequence >> caseName;
    std::string reason;
    std::getline(words, reason);
    if (sequence == sequence_) known_[caseName] = reason.empty() ? reason : reason.substr(1);
  }
}

// Replaces Wine's lines by the Windows ones in the cases with a known Wine fault.
bool Comparison::Correct(std::vector<Case>& expected, std::ostream& out) const {
  bool ok = true;
  for (const Fault& fault : faults_) {
    if (fault.sequence != sequence_) continue;
    auto found = std::find_if(expected.begin(), expected.end(),
                              [&](const Case& c) { return c.name == fault.caseName; });
    for (const auto& [wine, windows] : fault.lines) {
      auto line = found == expected.end()
                      ? std::vector<std::string>::iterator{}
                      : std::find(found->lines.begin(), found->lines.end(), wine);
      if (found == expected.end() || line == found->lines.end()) {
        out << "wine-faults.txt: no line \"" << wine << "\" in case " << fault.caseName << "\n";
        ok = false;
      } else {
        *line = windows;
      }
    }
  }
  return ok;
}

namespace {

void PrintDifference(const Case& want, const Case& got, std::ostream& out) {
  std::size_t n = std::max(want.lines.size(), got.lines.size());
  for (std::size_t i = 0; i < n; ++i) {
    const std::string* w = i < want.lines.size() ? &want.lines[i] : nullptr;
    const std::string* g = i < got.lines.size() ? &got.lines[i] : nullptr;
    if (w != nullptr && g != nullptr && *w == *g) continue;
    if (w != nullptr) out << "      windows: " << *w << "\n";
    if (g != nullptr) out << "      got:     " << *g << "\n";
  }
}

}  // namespace

bool Comparison::Compare(const std::string& expected, const std::string& actual, bool windowsSide,
                         std::ostream& out) const {
  std::vector<Case> want = SplitCases(expected);
  std::vector<Case> got = SplitCases(actual);
  bool ok = windowsSide || Correct(want, out);
  int matched = 0, differed = 0, known = 0, faulty = 0;
  for (const Case& w : want) {
    auto g = std::find_if(got.begin(), got.end(), [&](const Case& c) { return c.name == w.name; });
    const Case missing{w.name, {"(case missing)"}};
    const Case& other = g == got.end() ? missing : *g;
    bool wineFault = std::any_of(faults_.begin(), faults_.end(), [&](const Fault& f) {
      return f.sequence == sequence_ && f.caseName == w.name;
    });
    faulty += wineFault ? 1 : 0;
    const std::string label = w.name.empty() ? "(start)" : w.name;
    auto reason = windowsSide ? known_.end() : known_.find(w.name);
    const bool counted = !w.name.empty();
    if (w.lines == other.lines) {
      matched += counted ? 1 : 0;
      out << "  match    " << label
          << (wineFault && !windowsSide ? " (Windows result, Wine fault)" : "");
      if (reason != known_.end()) out << " (listed as a known difference: drop it from the list)";
      out << "\n";
      continue;
    }
    if (reason != known_.end()) {
      known += counted ? 1 : 0;
      out << "  KNOWN    " << label << ": " << reason->second << "\n";
    } else {
      differed += counted ? 1 : 0;
      ok = false;
      out << "  DIFFERS  " << label << "\n";
    }
    PrintDifference(w, other, out);
  }
  for (const Case& g : got) {
    bool listed =
        std::any_of(want.begin(), want.end(), [&](const Case& c) { return c.name == g.name; });
    if (!listed) {
      ok = false;
      out << "  DIFFERS  " << g.name << " (not in the recording)\n";
    }
  }
  out << sequence_ << ": " << want.size() - 1 << " cases, " << matched << " match, " << differed
      << " differ, " << known << " known differences, " << faulty << " with a Wine fault\n";
  return ok;
}

}  // namespace conformance
