// tavex: the operator program for the clock network.
#include <QApplication>

#include "operator/ErrorHandler.h"
#include "operator/TForm1.h"
#include "serial/setup/ComSetup.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(tavex::ui::ApplicationTitle());
  tavex::ui::InstallDefaultExceptionReporter();
  tavex::RegisterComSetupDialog();

  tavex::ui::TForm1 form;
  form.show();
  // Closing the window ends the loop; the form then closes the port if it is open.
  return QApplication::exec();
}
