// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's own texts in the operator's language, and message boxes whose title shows whole.
#pragma once

class QMessageBox;
class QWidget;

namespace tavex::ui {

// Loads the translations of Qt's own texts (standard buttons such as "OK", the texts of its
// dialogs) for the language the message catalogues use, from the folder where Qt keeps them
// (Debian's qt6-translations-l10n). Without them Qt's texts stay English. True when loaded.
bool InstallQtTranslations();

// The width a window needs for its title to show whole in a title bar drawn in the window's
// font, beside the window icon and the title bar's buttons.
int TitleRoom(const QWidget& window);
// Readies a message box for the operator: its OK button says what the setup dialog's does (the
// setup dialog's catalogue; Qt's own Russian keeps a Latin "OK"), and the box is widened to its
// title's room, since a short message gives a narrow box whose title the window manager cuts.
void PrepareMessageBox(QMessageBox& box);

}  // namespace tavex::ui
