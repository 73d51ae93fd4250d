// SPDX-License-Identifier: GPL-3.0-or-later
// Compares a runner's output with the recorded Windows results, case by case. The recording is
// what Wine printed; where Wine is known to differ from Windows (wine-faults.txt) the stand-ins
// are held to the documented Windows result instead.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace conformance {

// One case of a recording: its name ("" for lines before the first case) and its lines.
struct Case {
  std::string name;
  std::vector<std::string> lines;
};

std::vector<Case> SplitCases(const std::string& text);

// A line Wine prints in a case and the line Windows prints there instead.
struct Fault {
  std::string sequence;
  std::string caseName;
  std::vector<std::pair<std::string, std::string>> lines;  // {wine, windows}
};

// Faults in the text form of wine-faults.txt:
//   fault SEQUENCE CASE
//   wine|<the line as Wine prints it>
//   windows|<the line as Windows prints it>
// Other lines are comments (the evidence).
std::vector<Fault> ParseFaults(const std::string& text);

class Comparison {
 public:
  explicit Comparison(std::string sequence) : sequence_(std::move(sequence)) {}

  void LoadFaults(const std::string& text) { faults_ = ParseFaults(text); }
  // Lines "SEQUENCE CASE reason": differences of our side that are being worked on.
  void LoadKnown(const std::string& text);

  // Prints one line per case and a summary; false when a case differs. The Windows side is held
  // to the recording as it is, our side to the recording with the Wine faults corrected.
  bool Compare(const std::string& expected, const std::string& actual, bool windowsSide,
               std::ostream& out) const;

 private:
  bool Correct(std::vector<Case>& expected, std::ostream& out) const;

  std::string sequence_;
  std::vector<Fault> faults_;
  std::map<std::string, std::string> known_;  // case -> reason
};

}  // namespace conformance
