// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/setup/ComCombo.h"

#include <QAbstractItemView>
#include <QString>
#include <QStyle>
#include <algorithm>
#include <exception>
#include <utility>

#include "platform/catalog.h"
#include "platform/text_codec.h"
#include "serial/ComNames.h"

namespace tavex {

namespace {

// Every value of an enumeration from its first to `last`, by its text name, in value order.
template <typename Enum, typename ToText>
std::vector<std::string> ValueNames(Enum last, ToText toText) {
  std::vector<std::string> names;
  for (int i = 0; i <= static_cast<int>(last); ++i) names.push_back(toText(static_cast<Enum>(i)));
  return names;
}

// Entries are single-byte text; the toolkit shows and compares them as Unicode, which also lets
// letter case be ignored for Cyrillic names.
QString ShownText(const std::string& entry) {
  return QString::fromStdString(platform::Cp1251ToUtf8(entry));
}

// "ttyUSB0 (not present)" in the operator's language; only the first "%s" of the translation
// is replaced, as it comes from a catalogue.
QString AbsentPortShown(const std::string& name) {
  QString text = QString::fromStdString(platform::Translate("portsetup", kAbsentPortText));
  const qsizetype at = text.indexOf(QStringLiteral("%s"));
  if (at < 0) return ShownText(name) + QLatin1Char(' ') + text;
  return text.replace(at, 2, ShownText(name));
}

PortListSource& CurrentPortListSource() {
  static PortListSource source = ListComPorts;
  return source;
}

}  // namespace

PortListSource SetPortListSource(PortListSource source) {
  if (!source) source = ListComPorts;
  return std::exchange(CurrentPortListSource(), std::move(source));
}

std::vector<std::string> ComPropertyEntries(TComProperty property) {
  switch (property) {
    case cpNone:
      return {};
    case cpPort: {
      std::vector<std::string> ports;
      CurrentPortListSource()(ports);
      return ports;
    }
    case cpBaudRate:
      return ValueNames(br256000, BaudRateToText);
    case cpDataBits:
      return ValueNames(dbEight, DataBitsToText);
    case cpStopBits:
      return ValueNames(sbTwoStopBits, StopBitsToText);
    case cpParity:
      return ValueNames(prSpace, ParityToText);
    case cpFlowControl:
      return ValueNames(fcCustom, FlowControlToText);
  }
  return {};
}

// ---- TComSelect ----

std::string TComSelect::CurrentValueName() const {
  if (comPort_ == nullptr) return {};
  const TCustomComPort& port = *comPort_;
  switch (comProperty_) {
    case cpNone:
      return {};
    case cpPort:
      return port.Port();
    case cpBaudRate:
      return BaudRateToText(port.BaudRate());
    case cpDataBits:
      return DataBitsToText(port.DataBits());
    case cpStopBits:
      return StopBitsToText(port.StopBits());
    case cpParity:
      return ParityToText(port.Parity().Bits());
    case cpFlowControl:
      return FlowControlToText(port.FlowControl().FlowControl());
  }
  return {};
}

int TComSelect::FindEntry(const std::string& name) const {
  const QString wanted = ShownText(name);
  const std::vector<std::string>& entries = *entries_;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (ShownText(entries[i]).compare(wanted, Qt::CaseInsensitive) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void TComSelect::SetPendingFromText(const std::string& text) {
  switch (comProperty_) {
    case cpNone:
      break;
    case cpPort:
      port_ = text;
      break;
    case cpBaudRate:
      baudRate_ = TextToBaudRate(text);
      break;
    case cpDataBits:
      dataBits_ = TextToDataBits(text);
      break;
    case cpStopBits:
      stopBits_ = TextToStopBits(text);
      break;
    case cpParity:
      parity_ = TextToParity(text);
      break;
    case cpFlowControl:
      flowControl_ = TextToFlowControl(text);
      break;
  }
}

void TComSelect::ApplyChoice() {
  if (comPort_ == nullptr) return;
  TCustomComPort& port = *comPort_;
  switch (comProperty_) {
    case cpNone:
      break;
    case cpPort:
      port.SetPort(port_);
      break;
    case cpBaudRate:
      port.SetBaudRate(baudRate_);
      break;
    case cpDataBits:
      port.SetDataBits(dataBits_);
      break;
    case cpStopBits:
      port.SetStopBits(stopBits_);
      break;
    case cpParity:
      port.Parity().SetBits(parity_);
      break;
    case cpFlowControl:
      port.FlowControl().SetFlowControl(flowControl_);
      break;
  }
}

// ---- TComComboBox ----

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent), select_(entries_) {
  setEditable(false);
  // `activated` comes only from the operator; programmatic selections raise other signals.
  connect(this, &QComboBox::activated, this, &TComComboBox::OperatorPicked);
}

TComComboBox::~TComComboBox() {
  if (TCustomComPort* port = select_.ComPort()) port->RemoveFreeNotification(this);
}

void TComComboBox::SetComPort(TCustomComPort* port) {
  TCustomComPort* previous = select_.ComPort();
  if (port == previous) return;
  if (previous != nullptr) previous->RemoveFreeNotification(this);
  select_.SetComPort(port);
  if (port != nullptr) {
    port->FreeNotification(this);
    ShowCurrentValue();
  }
}

void TComComboBox::SetComProperty(TComProperty property) {
  // Read the entries first: when the port list cannot be read the list stays as it was.
  std::vector<std::string> entries = ComPropertyEntries(property);
  select_.SetComProperty(property);
  FillItems(std::move(entries));
}

void TComComboBox::FillItems(std::vector<std::string> entries) {
  clear();
  absentEntry_ = -1;
  entries_ = std::move(entries);
  // A stable port name also shows the device it stands for today; the entry stays the name.
  const bool ports = select_.ComProperty() == cpPort;
  for (const std::string& entry : entries_) {
    addItem(ShownText(ports ? PortListText(entry) : entry));
  }
  // The list opens as wide as its longest entry, so a long stable name shows whole with its
  // device, however narrow the box itself.
  if (ports) {
    int widest = 0;
    for (int i = 0; i < count(); ++i) {
      widest = std::max(widest, view()->fontMetrics().horizontalAdvance(itemText(i)));
    }
    view()->setMinimumWidth(widest + 2 * view()->frameWidth() +
                            view()->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
  }
  if (entries_.empty()) return;
  if (select_.ComPort() != nullptr) {
    ShowCurrentValue();
  } else {
    SelectIndex(0);
  }
}

std::string TComComboBox::Text() const {
  const int index = currentIndex();
  if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return {};
  return entries_[static_cast<std::size_t>(index)];
}

void TComComboBox::SetText(const std::string& text) {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i] == text) {
      SelectIndex(static_cast<int>(i));
      return;
    }
  }
}

void TComComboBox::ShowCurrentValue() {
  if (select_.ComPort() == nullptr) return;
  const std::string current = select_.CurrentValueName();
  int index = select_.FindEntry(current);
  if (index < 0 && select_.ComProperty() == cpPort && !current.empty()) {
    index = AddAbsentPort(current);
  }
  SelectIndex(index);
  if (index >= 0) select_.SetPendingFromText(entries_[static_cast<std::size_t>(index)]);
}

int TComComboBox::AddAbsentPort(const std::string& name) {
  // One such entry at a time: a port renamed since replaces the earlier one.
  if (absentEntry_ >= 0) {
    removeItem(absentEntry_);
    entries_.erase(entries_.begin() + absentEntry_);
  }
  entries_.push_back(name);
  addItem(AbsentPortShown(name));
  absentEntry_ = static_cast<int>(entries_.size()) - 1;
  return absentEntry_;
}

void TComComboBox::SelectIndex(int index) {
  setCurrentIndex(index);
}

void TComComboBox::OperatorPicked(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return;
  select_.SetPendingFromText(entries_[static_cast<std::size_t>(index)]);
  if (!select_.AutoApply()) return;
  // A failing port setter must not unwind through the toolkit's event loop.
  try {
    select_.ApplyChoice();
  } catch (const std::exception& error) {
    ReportException(error);
  }
}

void TComComboBox::ComPortDestroyed(TCustomComPort& port) {
  // Called from the port's destructor while it walks its observers: only drop the reference.
  if (&port != select_.ComPort()) return;
  select_.SetComPort(nullptr);
  if (!entries_.empty()) SelectIndex(0);
}

}  // namespace tavex
