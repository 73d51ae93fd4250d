// SPDX-License-Identifier: GPL-3.0-or-later
// tavex: the operator program for the clock network.
#include <QApplication>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "operator/ErrorHandler.h"
#include "operator/QtLanguage.h"
#include "operator/Supervision.h"
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

// Qt's warnings that leave the operator nothing to do: a session without a desktop (su, ssh) has
// no runtime directory, and Qt makes a private one by itself; the offscreen platform cannot pass
// a window's size hints on, which it says whenever a message box opens.
bool NothingToActOn(QtMsgType type, const QString& text) {
  return type == QtWarningMsg &&
         (text.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR not set")) ||
          text == QStringLiteral("This plugin does not support propagateSizeHints()"));
}

// A display that is announced but cannot be reached ends the same way as none, with the same
// line. Every other message but the ones above goes on to Qt's own handler.
void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg &&
      text.contains(QStringLiteral("no Qt platform plugin could be initialized"))) {
    std::fputs(kNoDisplay, stderr);
    std::_Exit(1);
  }
  if (NothingToActOn(type, text)) return;
  defaultHandler(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
  if (NoDisplay(argc, argv)) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }
  defaultHandler = qInstallMessageHandler(FilterQtMessages);
  QApplication app(argc, argv);
  QApplication::setApplicationName(tavex::ui::ApplicationTitle());
  tavex::ui::InstallQtTranslations();
  // Lets the desktop (Wayland in particular) match the window to its menu entry and icon.
  QApplication::setDesktopFileName(QStringLiteral("org.tavex.Tavex"));
  tavex::ui::InstallDefaultExceptionReporter();
  tavex::RegisterComSetupDialog();
  // With no one to answer an error box (a service, the offscreen platform) errors go to
  // standard error, and polling goes on as after OK.
  tavex::ui::SetUnattended(tavex::ui::UnattendedFor(qEnvironmentVariable("TAVEX_UNATTENDED"),
                                                    qEnvironmentVariableIsSet("TAVEX_UNATTENDED"),
                                                    QGuiApplication::platformName()));

  // Every line of the window's log is also kept on disk, one file a day.
  tavex::platform::Journal journal(tavex::platform::JournalSettingsFromEnvironment(),
                                   tavex::platform::SystemClock());
  // Errors shown to the operator are kept there too, with their causes, while the journal lives.
  tavex::ui::SetErrorJournal([&journal](const std::string& line) { journal.Append(line); });
  struct ErrorJournalEnd {
    ~ErrorJournalEnd() { tavex::ui::SetErrorJournal({}); }
  } errorJournalEnd;
  // Outlives the form: the form's last exchange and errors still reach the metrics.
  tavex::ui::Supervision supervision;
  tavex::ui::TForm1 form;
  form.SetJournal(&journal);
  if (!supervision.Start(form)) return 1;
  form.show();
  // Closing the window ends the loop; the form then closes the port if it is open.
  return QApplication::exec();
}
