// tavex: the operator program for the clock network.
#include <QApplication>

#include "operator/ErrorHandler.h"
#include "operator/TForm1.h"
#include "serial/setup/ComSetup.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
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
