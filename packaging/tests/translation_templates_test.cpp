// SPDX-License-Identifier: GPL-3.0-or-later
// The translation templates hold exactly the texts the program offers to its message catalogues,
// in the program's order, so that a catalogue made from them covers everything a translator can
// change and nothing the program never looks up.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "clocklink/ClockFrames.h"
#include "platform/system_text.h"
#include "serial/ComPort.h"
#include "serial/setup/ComCombo.h"
#include "serial/setup/ComSetupFrm.h"

namespace {

// Reads a C string literal body as xgettext writes it ("..." on one line).
std::string Unquote(const std::string& line, std::size_t from) {
  std::string text;
  for (std::size_t i = line.find('"', from) + 1; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      ++i;
      text += line[i] == 'n' ? '\n' : line[i] == 't' ? '\t' : line[i];
    } else {
      text += line[i];
    }
  }
  return text;
}

// The msgids of a template in file order, without the header entry. Continuation lines ("...")
// after a msgid belong to it.
std::vector<std::string> ReadMsgids(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << "cannot read " << path;
  std::vector<std::string> ids;
  std::string line;
  bool inMsgid = false;
  while (std::getline(in, line)) {
    if (line.rfind("msgid ", 0) == 0) {
      ids.push_back(Unquote(line, 6));
      inMsgid = true;
    } else if (inMsgid && line.rfind('"', 0) == 0) {
      ids.back() += Unquote(line, 0);
    } else {
      inMsgid = false;
    }
  }
  if (!ids.empty() && ids.front().empty()) ids.erase(ids.begin());
  return ids;
}

// Untranslated texts: no language, so no catalogue is consulted.
void UseNoLanguage() {
  ::setenv("LANG", "C", 1);
  ::unsetenv("LANGUAGE");
}

// The setup dialog lists the installed ports when it is built; it gets an empty settings
// directory of its own, removed when the test ends.
class ScratchRegistry {
 public:
  ScratchRegistry()
      : dir_(std::filesystem::temp_directory_path() /
             ("tavex-templates-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(dir_);
    ::setenv("TAVEX_REGISTRY_DIR", dir_.c_str(), 1);
  }
  ~ScratchRegistry() { std::filesystem::remove_all(dir_); }
  ScratchRegistry(const ScratchRegistry&) = delete;
  ScratchRegistry& operator=(const ScratchRegistry&) = delete;

 private:
  std::filesystem::path dir_;
};

}  // namespace

TEST(PackagingTranslationTemplates,
     DefaultDomainHoldsThePortErrorsTheirExplanationAndTheErrorTexts) {
  UseNoLanguage();
  std::vector<std::string> offered;
  for (int code = 1; code <= 23; ++code) offered.push_back(tavex::ComErrorText(code));

  // The suffix as the program appends it, with the system code put back as its placeholder.
  const std::string withCode =
      tavex::EComPort(tavex::peOpenFailed, tavex::platform::Errno{4321}).what();
  ASSERT_EQ(withCode.rfind(offered.front(), 0), 0u) << withCode;
  std::string suffix = withCode.substr(offered.front().size());
  const auto code = suffix.find("4321");
  ASSERT_NE(code, std::string::npos) << withCode;
  suffix.replace(code, 4, "%d");
  offered.push_back(suffix);
  // The explanation below a port error, the system's texts, the other error texts.
  offered.insert(offered.end(), {tavex::kSystemReportsText, tavex::kFileText});
  for (const std::string& text : tavex::platform::SystemCodeTexts()) offered.push_back(text);
  offered.insert(offered.end(), {tavex::kBadDigitText, "Unknown error"});

  EXPECT_EQ(ReadMsgids(TAVEX_POT_DIR "/default.pot"), offered);
}

TEST(PackagingTranslationTemplates, PortsetupDomainHoldsTheDialogCaptionsButNotTheListEntries) {
  UseNoLanguage();
  ScratchRegistry registry;
  int argc = 1;
  char name[] = "translation_templates_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  std::vector<std::string> shown;
  {
    tavex::TComSetupFrm form;
    shown = {form.windowTitle().toStdString(),   form.GroupBox1->title().toStdString(),
             form.Label1->text().toStdString(),  form.Label2->text().toStdString(),
             form.Label3->text().toStdString(),  form.Label4->text().toStdString(),
             form.Label5->text().toStdString(),  form.Label6->text().toStdString(),
             form.Button1->text().toStdString(), form.Button2->text().toStdString()};
  }
  shown.push_back(tavex::kAbsentPortText);  // the port list's mark of a port not installed now

  const std::vector<std::string> ids = ReadMsgids(TAVEX_POT_DIR "/portsetup.pot");
  EXPECT_EQ(ids, shown);
  // List entries are setting names that the program reads back; they must stay untranslated.
  for (const char* entry : {"4800", "None", "Hardware", "1.5"}) {
    EXPECT_EQ(std::count(ids.begin(), ids.end(), entry), 0) << entry;
  }
}

// A catalogue made from the templates the way a translator makes one (pseudo-translated, every
// text wrapped in <>) reaches the texts the operator sees: error messages with the code suffix,
// and the dialog's captions, while the list entries stay as they are.
TEST(PackagingTranslationTemplates, CatalogueMadeFromTheTemplatesTranslatesErrorsAndDialog) {
  ::setenv("LANG", "ru_RU.UTF-8", 1);
  ::unsetenv("LANGUAGE");
  ::setenv("TAVEX_LOCALE_DIR", TAVEX_PSEUDO_LOCALE_DIR, 1);
  ScratchRegistry registry;

  EXPECT_EQ(tavex::ComErrorText(tavex::peStoreFailed), "<Failed to store settings>");
  EXPECT_STREQ(tavex::EComPort(tavex::peOpenFailed, tavex::platform::Errno{13}).what(),
               "<Unable to open com port>< (win error code: 13)>");

  int argc = 1;
  char name[] = "translation_templates_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  tavex::TComSetupFrm form;
  EXPECT_EQ(form.windowTitle().toStdString(), "<Setup>");
  EXPECT_EQ(form.Label6->text().toStdString(), "<Flow control>");
  EXPECT_EQ(form.Button2->text().toStdString(), "<Cancel>");
  EXPECT_GE(form.Combo2->findText(QStringLiteral("4800")), 0);
}
