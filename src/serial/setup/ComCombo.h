// SPDX-License-Identifier: GPL-3.0-or-later
// A drop-down list bound to one setting of a port object. It lists the names of the setting's
// values, preselects the port's current value and writes the operator's choice into the port
// only when told to (ApplyChoice), or at once when AutoApply is set.
#pragma once

#include <QComboBox>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "serial/ComPort.h"

namespace tavex {

// Which port setting a list edits.
enum TComProperty : std::uint8_t {
  cpNone,
  cpPort,
  cpBaudRate,
  cpDataBits,
  cpStopBits,
  cpParity,
  cpFlowControl
};

// Where the port list comes from: ListComPorts unless replaced, for instance by a test that reads
// another kernel device tree. Returns the source it replaces; an empty source restores the default.
using PortListSource = std::function<void(std::vector<std::string>& target)>;
PortListSource SetPortListSource(PortListSource source);

// How the port list shows a stored port that is not installed now (text domain "portsetup"; %s
// is the port name): it stays listed and selected, so that OK keeps it.
inline constexpr const char* kAbsentPortText = "%s (not present)";

// The entries a list shows for a property, entry i naming value i; for cpPort the installed
// ports (an EComPort from the port list passes out).
std::vector<std::string> ComPropertyEntries(TComProperty property);

// The state behind one list: a pending value per property, the bound port and the list's entries.
// It never touches the toolkit, so the rules of choosing and applying live here.
class TComSelect {
 public:
  explicit TComSelect(const std::vector<std::string>& entries) : entries_(&entries) {}

  TComProperty ComProperty() const { return comProperty_; }
  void SetComProperty(TComProperty value) { comProperty_ = value; }
  TCustomComPort* ComPort() const { return comPort_; }
  void SetComPort(TCustomComPort* value) { comPort_ = value; }
  bool AutoApply() const { return autoApply_; }
  void SetAutoApply(bool value) { autoApply_ = value; }

  // The name of the bound port's current value of the property (the port name itself for
  // cpPort, the derived preset for cpFlowControl); empty without a port or for cpNone.
  std::string CurrentValueName() const;
  // The index of the entry equal to `name` ignoring letter case, or -1.
  int FindEntry(const std::string& name) const;
  // Takes the value an entry names as the pending one (a port name keeps the entry's case).
  void SetPendingFromText(const std::string& text);
  // Writes the pending value of the property into the bound port; nothing without a port.
  void ApplyChoice();

  const std::string& PendingPort() const { return port_; }
  TBaudRate PendingBaudRate() const { return baudRate_; }
  TDataBits PendingDataBits() const { return dataBits_; }
  TStopBits PendingStopBits() const { return stopBits_; }
  TParityBits PendingParity() const { return parity_; }
  TFlowControl PendingFlowControl() const { return flowControl_; }

 private:
  std::string port_;
  TBaudRate baudRate_ = brCustom;
  TDataBits dataBits_ = dbFive;
  TStopBits stopBits_ = sbOneStopBit;
  TParityBits parity_ = prNone;
  TFlowControl flowControl_ = fcHardware;
  const std::vector<std::string>* entries_;
  TComProperty comProperty_ = cpNone;
  TCustomComPort* comPort_ = nullptr;
  bool autoApply_ = false;
};

// The list itself: a combo box whose text cannot be edited. Only the operator's pick (the
// toolkit's `activated`, raised by mouse, keyboard or wheel) changes the pending value;
// selections made by the program leave it alone. The bound port is not owned; when it is
// destroyed first, the list forgets it and selects its first entry.
class TComComboBox : public QComboBox, private TComPortObserver {
  Q_OBJECT

 public:
  explicit TComComboBox(QWidget* parent = nullptr);
  ~TComComboBox() override;
  TComComboBox(const TComComboBox&) = delete;
  TComComboBox& operator=(const TComComboBox&) = delete;

  TCustomComPort* ComPort() const { return select_.ComPort(); }
  // Binds the list to `port` (may be empty) and shows its current value.
  void SetComPort(TCustomComPort* port);
  TComProperty ComProperty() const { return select_.ComProperty(); }
  // Refills the entries for `property`; for cpPort this reads the installed ports now.
  void SetComProperty(TComProperty property);
  bool AutoApply() const { return select_.AutoApply(); }
  void SetAutoApply(bool value) { select_.SetAutoApply(value); }

  // The selected entry, or empty text when none is selected.
  std::string Text() const;
  // Selects the entry with exactly this text; changes nothing when there is none.
  void SetText(const std::string& text);

  // Selects the entry naming the bound port's current value (ignoring letter case). A port name
  // that is not among the installed ports gets an entry of its own, marked as not present, so
  // that the stored port is never lost by accepting the dialog; any other value not listed
  // selects nothing.
  void ShowCurrentValue();
  // Writes the pending value into the bound port.
  void ApplyChoice() { select_.ApplyChoice(); }

  const TComSelect& Select() const { return select_; }
  const std::vector<std::string>& Entries() const { return entries_; }

 private:
  void FillItems(std::vector<std::string> entries);
  void OperatorPicked(int index);
  void SelectIndex(int index);
  int AddAbsentPort(const std::string& name);
  void ComPortDestroyed(TCustomComPort& port) override;

  std::vector<std::string> entries_;  // the entries as the port sees them (single-byte text)
  int absentEntry_ = -1;              // the entry of a port not installed now, or -1
  TComSelect select_;
};

}  // namespace tavex
