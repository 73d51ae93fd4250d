// SPDX-License-Identifier: GPL-3.0-or-later
// tavex: the operator program for the clock network.
#include <QApplication>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "operator/ErrorHandler.h"
#include "operator/TForm1.h"
#include "serial/setup/ComSetup.h"

namespace {

constexpr const char* kNoDisplay =
    "tavex: no display: set DISPLAY, or run with -platform offscreen\n";

// True when nothing names a platform and no display server is announced: Qt would abort on its
// default platform with advice that does not apply.
bool NoDisplay(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
      return false;
    }
  }
  return qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
         qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QtMessageHandler defaultHandler = nullptr;

// A display that is announced but cannot be reached ends the same way, with the same line.
void ReportMissingPlatform(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg &&
      text.contains(QStringLiteral("no Qt platform plugin could be initialized"))) {
    std::fputs(kNoDisplay, stderr);
    std::_Exit(1);
  }
  defaultHandler(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
  if (NoDisplay(argc, argv)) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }
  defaultHandler = qInstallMessageHandler(ReportMissingPlatform);
  QApplication app(argc, argv);
  qInstallMessageHandler(defaultHandler);
  QApplication::setApplicationName(tavex::ui::ApplicationTitle());
  // Lets the desktop (Wayland in particular) match the window to its menu entry and icon.
  QApplication::setDesktopFileName(QStringLiteral("org.tavex.Tavex"));
  tavex::ui::InstallDefaultExceptionReporter();
  tavex::RegisterComSetupDialog();

  // Every line of the window's log is also kept on disk, one file a day.
  tavex::platform::Journal journal(tavex::platform::JournalSettingsFromEnvironment(),
                                   tavex::platform::SystemClock());
  tavex::ui::TForm1 form;
  form.SetJournal(&journal);
  form.show();
  // Closing the window ends the loop; the form then closes the port if it is open.
  return QApplication::exec();
}
