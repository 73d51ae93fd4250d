// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/ComStorage.h"

#include <cstring>

#include "platform/name_case.h"
#include "platform/profile.h"
#include "serial/ComNames.h"
#include "serial/ComPort.h"

namespace tavex {
namespace {

[[noreturn]] void FailWithCode(const std::string& what, const std::string& name, int code) {
  throw ESettingsStore(what + " \"" + name + "\" (" + std::to_string(code) + ")");
}
// The code in the message is a registry result or, for settings files, an errno value.
[[noreturn]] void Fail(const std::string& what, const std::string& name, platform::RegResult code) {
  FailWithCode(what, name, platform::Value(code));
}
[[noreturn]] void Fail(const std::string& what, const std::string& name, platform::Errno code) {
  FailWithCode(what, name, platform::Value(code));
}
void Fail(const std::string& what, const std::string& name, int code) = delete;

using Port = TCustomComPort;

enum class RowKind {
  kText,
  kInteger,
  // An integer stored only while BaudRate is brCustom; a file without it gives the class default.
  kCustomRate,
};

// One stored setting: its group, its name, and its value as text or as an integer.
struct SettingRow {
  TSettingsGroup group;
  const char* name;
  RowKind kind;
  std::string (*text)(const Port&);
  void (*setText)(Port&, const std::string&);
  std::int32_t (*integer)(const Port&);
  void (*setInteger)(Port&, std::int32_t);
};

constexpr SettingRow TextRow(TSettingsGroup group, const char* name,
                             std::string (*text)(const Port&),
                             void (*setText)(Port&, const std::string&)) {
  return {group, name, RowKind::kText, text, setText, nullptr, nullptr};
}

constexpr SettingRow IntegerRow(TSettingsGroup group, const char* name,
                                std::int32_t (*integer)(const Port&),
                                void (*setInteger)(Port&, std::int32_t),
                                RowKind kind = RowKind::kInteger) {
  return {group, name, kind, nullptr, nullptr, integer, setInteger};
}

constexpr std::int32_t kDefaultCustomBaudRate = 9600;

// Every stored setting in the stored order: basic, others, parity, buffer, timeouts, flow
// control. Restoring assigns them in the same order, each through its setter as soon as it is
// read, so that a failure half-way leaves the rows before it assigned.
const SettingRow kSettingRows[] = {
    TextRow(
        sgBasic, "Port", [](const Port& p) { return p.Port(); },
        [](Port& p, const std::string& t) { p.SetPort(t); }),
    TextRow(
        sgBasic, "BaudRate", [](const Port& p) { return BaudRateToText(p.BaudRate()); },
        [](Port& p, const std::string& t) { p.SetBaudRate(TextToBaudRate(t)); }),
    IntegerRow(
        sgBasic, "CustomBaudRate", [](const Port& p) { return p.CustomBaudRate(); },
        [](Port& p, std::int32_t n) { p.SetCustomBaudRate(n); }, RowKind::kCustomRate),
    TextRow(
        sgBasic, "StopBits", [](const Port& p) { return StopBitsToText(p.StopBits()); },
        [](Port& p, const std::string& t) { p.SetStopBits(TextToStopBits(t)); }),
    TextRow(
        sgBasic, "DataBits", [](const Port& p) { return DataBitsToText(p.DataBits()); },
        [](Port& p, const std::string& t) { p.SetDataBits(TextToDataBits(t)); }),
    TextRow(
        sgBasic, "Parity", [](const Port& p) { return ParityToText(p.Parity().Bits()); },
        [](Port& p, const std::string& t) { p.Parity().SetBits(TextToParity(t)); }),
    TextRow(
        sgBasic, "FlowControl",
        [](const Port& p) { return FlowControlToText(p.FlowControl().FlowControl()); },
        [](Port& p, const std::string& t) {
          p.FlowControl().SetFlowControl(TextToFlowControl(t));
        }),
    TextRow(
        sgOthers, "EventChar", [](const Port& p) { return CharToText(p.EventChar()); },
        [](Port& p, const std::string& t) { p.SetEventChar(TextToChar(t)); }),
    TextRow(
        sgOthers, "DiscardNull", [](const Port& p) { return BoolToText(p.DiscardNull()); },
        [](Port& p, const std::string& t) { p.SetDiscardNull(TextToBool(t)); }),
    TextRow(
        sgParity, "Parity.Check", [](const Port& p) { return BoolToText(p.Parity().Check()); },
        [](Port& p, const std::string& t) { p.Parity().SetCheck(TextToBool(t)); }),
    TextRow(
        sgParity, "Parity.Replace", [](const Port& p) { return BoolToText(p.Parity().Replace()); },
        [](Port& p, const std::string& t) { p.Parity().SetReplace(TextToBool(t)); }),
    TextRow(
        sgParity, "Parity.ReplaceChar",
        [](const Port& p) { return CharToText(p.Parity().ReplaceChar()); },
        [](Port& p, const std::string& t) { p.Parity().SetReplaceChar(TextToChar(t)); }),
    IntegerRow(
        sgBuffer, "Buffer.OutputSize", [](const Port& p) { return p.Buffer().OutputSize(); },
        [](Port& p, std::int32_t n) { p.Buffer().SetOutputSize(n); }),
    IntegerRow(
        sgBuffer, "Buffer.InputSize", [](const Port& p) { return p.Buffer().InputSize(); },
        [](Port& p, std::int32_t n) { p.Buffer().SetInputSize(n); }),
    IntegerRow(
        sgTimeouts, "Timeouts.ReadInterval",
        [](const Port& p) { return p.Timeouts().ReadInterval(); },
        [](Port& p, std::int32_t n) { p.Timeouts().SetReadInterval(n); }),
    IntegerRow(
        sgTimeouts, "Timeouts.ReadTotalConstant",
        [](const Port& p) { return p.Timeouts().ReadTotalConstant(); },
        [](Port& p, std::int32_t n) { p.Timeouts().SetReadTotalConstant(n); }),
    IntegerRow(
        sgTimeouts, "Timeouts.ReadTotalMultiplier",
        [](const Port& p) { return p.Timeouts().ReadTotalMultiplier(); },
        [](Port& p, std::int32_t n) { p.Timeouts().SetReadTotalMultiplier(n); }),
    IntegerRow(
        sgTimeouts, "Timeouts.WriteTotalConstant",
        [](const Port& p) { return p.Timeouts().WriteTotalConstant(); },
        [](Port& p, std::int32_t n) { p.Timeouts().SetWriteTotalConstant(n); }),
    IntegerRow(
        sgTimeouts, "Timeouts.WriteTotalMultiplier",
        [](const Port& p) { return p.Timeouts().WriteTotalMultiplier(); },
        [](Port& p, std::int32_t n) { p.Timeouts().SetWriteTotalMultiplier(n); }),
    TextRow(
        sgFlowControl, "FlowControl.ControlRTS",
        [](const Port& p) { return RTSControlToText(p.FlowControl().ControlRTS()); },
        [](Port& p, const std::string& t) { p.FlowControl().SetControlRTS(TextToRTSControl(t)); }),
    TextRow(
        sgFlowControl, "FlowControl.ControlDTR",
        [](const Port& p) { return DTRControlToText(p.FlowControl().ControlDTR()); },
        [](Port& p, const std::string& t) { p.FlowControl().SetControlDTR(TextToDTRControl(t)); }),
    TextRow(
        sgFlowControl, "FlowControl.DSRSensitivity",
        [](const Port& p) { return BoolToText(p.FlowControl().DSRSensitivity()); },
        [](Port& p, const std::string& t) { p.FlowControl().SetDSRSensitivity(TextToBool(t)); }),
    TextRow(
        sgFlowControl, "FlowControl.OutCTSFlow",
        [](const Port& p) { return BoolToText(p.FlowControl().OutCTSFlow()); },
        [](Port& p, const std::string& t) { p.FlowControl().SetOutCTSFlow(TextToBool(t)); }),
    TextRow(
        sgFlowControl, "FlowControl.OutDSRFlow",
        [](const Port& p) { return BoolToText(p.FlowControl().OutDSRFlow()); },
        [](Port& p, const std::string& t) { p.FlowControl().SetOutDSRFlow(TextToBool(t)); }),
    TextRow(
        sgFlowControl, "FlowControl.TxContinueOnXoff",
        [](const Port& p) { return BoolToText(p.FlowControl().TxContinueOnXoff()); },
        [](Port& p, const std::string& t) { p.FlowControl().SetTxContinueOnXoff(TextToBool(t)); }),
    TextRow(
        sgFlowControl, "FlowControl.XonXoffIn",
        [](const Port& p) { return BoolToText(p.FlowControl().XonXoffIn()); },
        [](Port& p, const std::string& t) { p.FlowControl().SetXonXoffIn(TextToBool(t)); }),
    TextRow(
        sgFlowControl, "FlowControl.XonXoffOut",
        [](const Port& p) { return BoolToText(p.FlowControl().XonXoffOut()); },
        [](Port& p, const std::string& t) { p.FlowControl().SetXonXoffOut(TextToBool(t)); }),
    TextRow(
        sgFlowControl, "FlowControl.XoffChar",
        [](const Port& p) { return CharToText(p.FlowControl().XoffChar()); },
        [](Port& p, const std::string& t) { p.FlowControl().SetXoffChar(TextToChar(t)); }),
    TextRow(
        sgFlowControl, "FlowControl.XonChar",
        [](const Port& p) { return CharToText(p.FlowControl().XonChar()); },
        [](Port& p, const std::string& t) { p.FlowControl().SetXonChar(TextToChar(t)); }),
};

bool RowApplies(const SettingRow& row, TSettingsGroups groups, const Port& port) {
  return groups.Contains(row.group) &&
         (row.kind != RowKind::kCustomRate || port.BaudRate() == brCustom);
}

// `Store` has PutText(name, text) and PutInteger(name, value).
template <typename Store>
void SaveRows(const Port& port, Store& store) {
  const TSettingsGroups groups = port.SavedGroups;
  for (const SettingRow& row : kSettingRows) {
    if (!RowApplies(row, groups, port)) continue;
    if (row.kind == RowKind::kText) {
      store.PutText(row.name, row.text(port));
    } else {
      store.PutInteger(row.name, row.integer(port));
    }
  }
}

// `Store` has GetText(name, current text) and GetInteger(name, fallback); the current values
// serve the stores that fall back to them.
template <typename Store>
void RestoreRows(Port& port, Store& store) {
  const TSettingsGroups groups = port.SavedGroups;
  for (const SettingRow& row : kSettingRows) {
    if (!RowApplies(row, groups, port)) continue;
    if (row.kind == RowKind::kText) {
      row.setText(port, store.GetText(row.name, row.text(port)));
    } else {
      const std::int32_t fallback =
          row.kind == RowKind::kCustomRate ? kDefaultCustomBaudRate : row.integer(port);
      row.setInteger(port, store.GetInteger(row.name, fallback));
    }
  }
}

struct RegistryRows {
  RegistryAccessor& reg;
  void PutText(const std::string& name, const std::string& text) { reg.WriteString(name, text); }
  void PutInteger(const std::string& name, std::int32_t value) { reg.WriteInteger(name, value); }
  // No fallbacks: a missing text is empty text, a missing integer fails.
  std::string GetText(const std::string& name, const std::string&) { return reg.ReadString(name); }
  std::int32_t GetInteger(const std::string& name, std::int32_t) { return reg.ReadInteger(name); }
};

struct IniRows {
  IniAccessor& ini;
  void PutText(const std::string& name, const std::string& text) { ini.WriteString(name, text); }
  void PutInteger(const std::string& name, std::int32_t value) {
    ini.WriteString(name, std::to_string(value));
  }
  std::string GetText(const std::string& name, const std::string& current) {
    return ini.ReadString(name, current);
  }
  // An integer that is missing, empty, malformed or too large keeps the fallback.
  std::int32_t GetInteger(const std::string& name, std::int32_t fallback) {
    std::int32_t value = 0;
    return TextToInt32(ini.ReadString(name, ""), value) ? value : fallback;
  }
};

}  // namespace

// ---- RegistryAccessor ----

RegistryAccessor::~RegistryAccessor() {
  try {
    FlushWrites();
  } catch (const ESettingsStore&) {
    // The owner flushes explicitly where a failure matters; a destructor cannot report one.
  }
}

bool RegistryAccessor::OpenKey(const std::string& path, bool canCreate) {
  FlushWrites();
  CloseKey();
  platform::RegistryKey key;
  int rc = canCreate ? platform::RegistryKey::Create(RootKey, path, key)
                     : platform::RegistryKey::Open(RootKey, path, key);
  if (rc != 0) return false;
  key_ = key;
  return true;
}

void RegistryAccessor::CloseKey() {
  key_.Close();
  pending_.clear();
  haveSnapshot_ = false;
}

platform::RegResult RegistryAccessor::Query(const std::string& name, platform::RegType& type,
                                            std::string& data) {
  FlushWrites();
  if (!key_.IsOpen()) return platform::kErrorInvalidHandle;
  if (!haveSnapshot_) {
    snapshotResult_ = key_.QueryValues(snapshot_);
    haveSnapshot_ = true;
  }
  if (snapshotResult_ != 0) return snapshotResult_;
  for (const platform::RegValueWrite& value : snapshot_) {
    if (platform::EqualsNoCase(value.name, name)) {
      type = value.type;
      data = value.data;
      return 0;
    }
  }
  return platform::kErrorFileNotFound;
}

std::string RegistryAccessor::ReadString(const std::string& name) {
  if (!key_.IsOpen()) return {};
  platform::RegType type{};
  std::string data;
  const platform::RegResult rc = Query(name, type, data);
  if (rc == platform::kErrorFileNotFound) return {};
  if (rc != 0) Fail("cannot read value", name, rc);
  if (data.empty()) return {};
  if (type != platform::RegType::Sz && type != platform::RegType::ExpandSz) {
    Fail("not a text value:", name, platform::RegResult{platform::kErrorInvalidData});
  }
  return data.substr(0, data.find('\0'));
}

std::int32_t RegistryAccessor::ReadInteger(const std::string& name) {
  platform::RegType type{};
  std::string data;
  const platform::RegResult rc = Query(name, type, data);
  if (rc != 0) Fail("cannot read value", name, rc);
  if (type != platform::RegType::Dword || data.size() != 4) {
    Fail("not a 4-byte integer value:", name, platform::RegResult{platform::kErrorInvalidData});
  }
  std::uint32_t bits = 0;
  for (std::size_t i = 4; i-- > 0;) bits = (bits << 8) | static_cast<unsigned char>(data[i]);
  return static_cast<std::int32_t>(bits);
}

void RegistryAccessor::WriteString(const std::string& name, const std::string& text) {
  pending_.push_back({name, platform::RegType::Sz, text + '\0'});
  if (!holding_) FlushWrites();
}

void RegistryAccessor::WriteInteger(const std::string& name, std::int32_t value) {
  auto bits = static_cast<std::uint32_t>(value);
  std::string data(4, '\0');
  for (std::size_t i = 0; i < 4; ++i) data[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  pending_.push_back({name, platform::RegType::Dword, data});
  if (!holding_) FlushWrites();
}

void RegistryAccessor::FlushWrites() {
  if (pending_.empty()) return;
  haveSnapshot_ = false;
  std::vector<platform::RegValueWrite> writes;
  writes.swap(pending_);
  std::size_t applied = 0;
  const platform::RegResult rc = key_.SetValues(writes, &applied);
  if (rc != 0) Fail("cannot write value", writes[applied < writes.size() ? applied : 0].name, rc);
}

// ---- IniAccessor ----

IniAccessor::~IniAccessor() {
  UpdateFile();
}

std::string IniAccessor::ReadString(const std::string& key, const std::string& fallback) const {
  return platform::GetPrivateProfileString(section_, key, fallback, fileName_);
}

void IniAccessor::WriteString(const std::string& key, const std::string& value) {
  int rc = platform::WritePrivateProfileString(section_, key, value, fileName_);
  if (rc != 0) Fail("cannot write key", key, platform::Errno{rc});
}

void IniAccessor::UpdateFile() {
  platform::WritePrivateProfileString(std::nullopt, std::nullopt, std::nullopt, fileName_);
}

// ---- Locations ----

void OpenSettingsKey(RegistryAccessor& reg, const std::string& path,
                     const std::string& componentName) {
  const std::size_t slash = path.find('\\');
  if (slash == std::string::npos) return;
  reg.RootKey = platform::EqualsNoCase(path.substr(0, slash), "HKEY_LOCAL_MACHINE")
                    ? platform::RegRoot::LocalMachine
                    : platform::RegRoot::CurrentUser;
  std::string subKey = path.substr(slash + 1);
  if (subKey.empty() || subKey.back() != '\\') subKey += '\\';
  // An empty sub-key gives "\Name", which the hive reads as the key directly under the root.
  reg.OpenKey(subKey + componentName, true);
}

// ---- The port's store operations ----

void TCustomComPort::SaveToRegistry(RegistryAccessor& reg) {
  RegistryRows rows{reg};
  SaveRows(*this, rows);
}

void TCustomComPort::SaveToIniFile(IniAccessor& ini) {
  IniRows rows{ini};
  SaveRows(*this, rows);
}

void TCustomComPort::RestoreFromRegistry(RegistryAccessor& reg) {
  RegistryRows rows{reg};
  RestoreRows(*this, rows);
}

void TCustomComPort::RestoreFromIniFile(IniAccessor& ini) {
  IniRows rows{ini};
  RestoreRows(*this, rows);
}

void TCustomComPort::SaveSettings(TSettingsStore StoreType, const std::string& StoreTo) {
  try {
    if (StoreType == ssRegistry) {
      RegistryAccessor reg;
      // One rewrite of the hive for the whole set; what was written before a failure still
      // reaches the store.
      reg.HoldWrites();
      OpenSettingsKey(reg, StoreTo, Name());
      try {
        SaveToRegistry(reg);
      } catch (...) {
        try {
          reg.FlushWrites();
        } catch (...) {
        }
        throw;
      }
      reg.FlushWrites();
    } else {
      IniAccessor ini(StoreTo, Name());
      SaveToIniFile(ini);
      ini.UpdateFile();
    }
  } catch (...) {
    throw EComPort(peStoreFailed);
  }
}

void TCustomComPort::RestoreSettings(TSettingsStore StoreType, const std::string& StoreFrom) {
  BeginUpdate();
  bool failed = false;
  try {
    if (StoreType == ssRegistry) {
      RegistryAccessor reg;
      OpenSettingsKey(reg, StoreFrom, Name());
      RestoreFromRegistry(reg);
    } else {
      IniAccessor ini(StoreFrom, Name());
      RestoreFromIniFile(ini);
    }
  } catch (...) {
    failed = true;
  }
  try {
    EndUpdate();
  } catch (...) {
    failed = true;
  }
  if (failed) throw EComPort(peLoadFailed);
}

}  // namespace tavex
