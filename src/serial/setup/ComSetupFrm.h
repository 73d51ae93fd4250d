// SPDX-License-Identifier: GPL-3.0-or-later
// The port setup dialog: six lists for port name, baud rate, data bits, stop bits, parity and
// flow control, and OK / Cancel. It lives for one run of RunComSetupDialog.
#pragma once

#include <QDialog>

#include "serial/ComPort.h"
#include "serial/setup/ComCombo.h"

class QGroupBox;
class QLabel;
class QPushButton;

namespace tavex {

// The text domain of the dialog's captions.
inline constexpr const char* kPortSetupDomain = "portsetup";

class TComSetupFrm : public QDialog {
  Q_OBJECT

 public:
  // Builds the controls and fills the lists; Combo1 reads the installed ports now, and an
  // EComPort from that passes out (no dialog then).
  explicit TComSetupFrm(QWidget* parent = nullptr);

  QGroupBox* GroupBox1;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label6;
  TComComboBox* Combo1;
  TComComboBox* Combo2;
  TComComboBox* Combo3;
  TComComboBox* Combo4;
  TComComboBox* Combo5;
  TComComboBox* Combo6;
  QPushButton* Button1;
  QPushButton* Button2;

  // The lists in binding and applying order.
  TComComboBox* Combo(int number) const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void FormCreate();
  void FitLabels();
  // The least room between the end of a label and its list.
  static constexpr int kLabelGap = 4;
};

// Marks a widget whose texts (list entries included) must stay as they are when a form offers
// its texts to a message catalogue.
void SetNotTranslated(QWidget* widget);
// Offers the texts of `root` and of every widget inside it (window title, group titles, labels,
// button texts, list entries) to the catalogue of `domain`, skipping widgets marked above.
void TranslateWidgetTexts(QWidget* root, const char* domain);

// Runs the dialog for `port`: binds the six lists, waits for the operator and, on OK, writes the
// six choices into the port in one update, so an open device is reconfigured once.
void RunComSetupDialog(TCustomComPort& port);

}  // namespace tavex
