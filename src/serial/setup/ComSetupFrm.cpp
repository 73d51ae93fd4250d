// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/setup/ComSetupFrm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFont>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <string>

#include "platform/catalog.h"

namespace tavex {

namespace {

constexpr const char* kNotTranslatedProperty = "tavexNotTranslated";

// Message ids and translations are UTF-8, like the window's own texts.
QString CatalogText(const char* domain, const QString& text) {
  if (text.isEmpty()) return text;  // an empty message id would fetch the catalogue's header
  return QString::fromStdString(platform::Translate(domain, text.toStdString()));
}

void TranslateOne(QWidget* widget, const char* domain) {
  if (widget->isWindow()) widget->setWindowTitle(CatalogText(domain, widget->windowTitle()));
  if (!widget->toolTip().isEmpty()) widget->setToolTip(CatalogText(domain, widget->toolTip()));
  if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(CatalogText(domain, group->title()));
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    const QString text = CatalogText(domain, label->text());
    if (text != label->text()) {
      label->setText(text);
      label->adjustSize();
    }
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(CatalogText(domain, button->text()));
  } else if (auto* list = qobject_cast<QComboBox*>(widget)) {
    for (int i = 0; i < list->count(); ++i) {
      list->setItemText(i, CatalogText(domain, list->itemText(i)));
    }
  }
}

void TranslateTree(QWidget* widget, const char* domain) {
  if (widget->property(kNotTranslatedProperty).toBool()) return;
  TranslateOne(widget, domain);
  for (QObject* child : widget->children()) {
    if (auto* childWidget = qobject_cast<QWidget*>(child);
        childWidget && !childWidget->isWindow()) {
      TranslateTree(childWidget, domain);
    }
  }
}

// The window a dialog belongs to: the active one, or else the first visible main window.
QWidget* OwnerWindow() {
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->isVisible() && window->windowType() == Qt::Window) return window;
  }
  return nullptr;
}

QLabel* MakeLabel(const char* name, const char* text, int top, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(8, top);
  label->adjustSize();
  return label;
}

TComComboBox* MakeCombo(const char* name, TComProperty property, int top, QWidget* parent) {
  auto* combo = new TComComboBox(parent);
  combo->setObjectName(QString::fromLatin1(name));
  combo->setGeometry(80, top, 129, 21);
  combo->SetComProperty(property);
  return combo;
}

QPushButton* MakeButton(const char* name, const char* text, int left, QWidget* parent) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(left, 184, 75, 25);
  return button;
}

}  // namespace

void SetNotTranslated(QWidget* widget) {
  widget->setProperty(kNotTranslatedProperty, true);
}

void TranslateWidgetTexts(QWidget* root, const char* domain) {
  TranslateTree(root, domain);
}

TComSetupFrm::TComSetupFrm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ComSetupFrm"));
  setWindowTitle(QStringLiteral("Setup"));
  // A dialog frame that cannot be resized, with a close box only: minimising a modal dialog
  // would hide it and leave its owner blocked.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(231, 216);
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(11);
  setFont(font);

  GroupBox1 = new QGroupBox(QStringLiteral(" Settings "), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(8, 8, 217, 169);

  Label1 = MakeLabel("Label1", "Port", 24, GroupBox1);
  Label2 = MakeLabel("Label2", "Baud rate", 48, GroupBox1);
  Label3 = MakeLabel("Label3", "Data bits", 72, GroupBox1);
  Label4 = MakeLabel("Label4", "Stop bits", 96, GroupBox1);
  Label5 = MakeLabel("Label5", "Parity", 120, GroupBox1);
  Label6 = MakeLabel("Label6", "Flow control", 144, GroupBox1);

  // The port list is read here, once per dialog; when it cannot be read the error leaves the
  // constructor and no dialog exists.
  Combo1 = MakeCombo("Combo1", cpPort, 16, GroupBox1);
  Combo2 = MakeCombo("Combo2", cpBaudRate, 40, GroupBox1);
  Combo3 = MakeCombo("Combo3", cpDataBits, 64, GroupBox1);
  Combo4 = MakeCombo("Combo4", cpStopBits, 88, GroupBox1);
  Combo5 = MakeCombo("Combo5", cpParity, 112, GroupBox1);
  Combo6 = MakeCombo("Combo6", cpFlowControl, 136, GroupBox1);

  Button1 = MakeButton("Button1", "OK", 70, this);
  Button1->setDefault(true);
  Button2 = MakeButton("Button2", "Cancel", 150, this);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

  setTabOrder(Combo1, Combo2);
  setTabOrder(Combo2, Combo3);
  setTabOrder(Combo3, Combo4);
  setTabOrder(Combo4, Combo5);
  setTabOrder(Combo5, Combo6);
  setTabOrder(Combo6, Button1);
  setTabOrder(Button1, Button2);
  Combo1->setFocus();

  FormCreate();
  FitLabels();

  // With an owner, Qt centres the dialog over the owner's window when it shows (frames
  // included); mid-screen only without one.
  if (parent == nullptr) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      move(screen->availableGeometry().center() - rect().center());
    }
  }
}

void TComSetupFrm::FitLabels() {
  // Translated labels may be longer than the room left of the lists: the lists, the group, the
  // buttons and the dialog move or grow to the right by what the widest label needs.
  const QLabel* labels[] = {Label1, Label2, Label3, Label4, Label5, Label6};
  int labelsEnd = 0;
  for (const QLabel* label : labels) {
    labelsEnd = std::max(labelsEnd, label->x() + label->sizeHint().width());
  }
  const int extra = std::max(0, labelsEnd + kLabelGap - Combo1->x());
  if (extra == 0) return;
  for (int n = 1; n <= 6; ++n) Combo(n)->move(Combo(n)->x() + extra, Combo(n)->y());
  GroupBox1->resize(GroupBox1->width() + extra, GroupBox1->height());
  Button1->move(Button1->x() + extra, Button1->y());
  Button2->move(Button2->x() + extra, Button2->y());
  setFixedSize(width() + extra, height());
}

TComComboBox* TComSetupFrm::Combo(int number) const {
  switch (number) {
    case 1:
      return Combo1;
    case 2:
      return Combo2;
    case 3:
      return Combo3;
    case 4:
      return Combo4;
    case 5:
      return Combo5;
    case 6:
      return Combo6;
    default:
      return nullptr;
  }
}

void TComSetupFrm::FormCreate() {
  // The list entries are the value names the port reads back; they are never translated.
  for (int n = 1; n <= 6; ++n) SetNotTranslated(Combo(n));
  TranslateWidgetTexts(this, kPortSetupDomain);
}

void TComSetupFrm::keyPressEvent(QKeyEvent* event) {
  // No key is bound to Cancel: Escape leaves the dialog open (Enter still presses OK).
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TComSetupFrm::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  // Some window managers offer to minimise a dialog whatever it asks for, and take its owner
  // along. A modal dialog out of sight leaves the program blocked with nothing to answer, so the
  // dialog and its owner come straight back.
  if (event->type() != QEvent::WindowStateChange || !(windowState() & Qt::WindowMinimized)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (QWidget* owner = parentWidget()) {
          QWidget* window = owner->window();
          window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
        }
        setWindowState(windowState() & ~Qt::WindowMinimized);
        raise();
        activateWindow();
      },
      Qt::QueuedConnection);
}

void RunComSetupDialog(TCustomComPort& port) {
  // Owned by the program's window, so the window system keeps it above that window.
  TComSetupFrm dialog(OwnerWindow());
  for (int n = 1; n <= 6; ++n) dialog.Combo(n)->SetComPort(&port);
  if (dialog.exec() != QDialog::Accepted) return;

  // One update bracket: an open device gets the six settings at once, at EndUpdate. The bracket
  // is closed on failure too, or the port would never apply its settings again.
  port.BeginUpdate();
  try {
    for (int n = 1; n <= 6; ++n) dialog.Combo(n)->ApplyChoice();
  } catch (...) {
    try {
      port.EndUpdate();
    } catch (...) {  // the first failure is the one to report
    }
    throw;
  }
  port.EndUpdate();
}

}  // namespace tavex
