#include "serial/ComStorage.h"

#include <cstring>

#include "platform/name_case.h"
#include "platform/profile.h"
#include "serial/ComNames.h"
#include "serial/ComPort.h"

namespace tavex {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& name, int code) {
  throw ESettingsStore(what + " \"" + name + "\" (" + std::to_string(code) + ")");
}

// The rows of every selected group, in the stored order: basic, others, parity, buffer,
// timeouts, flow control. `Store` has PutText(name, text) and PutInteger(name, value).
template <typename Store>
void SaveRows(const TCustomComPort& port, Store& store) {
  const TSettingsGroups groups = port.SavedGroups;
  if (groups.Contains(sgBasic)) {
    store.PutText("Port", port.Port());
    store.PutText("BaudRate", BaudRateToText(port.BaudRate()));
    if (port.BaudRate() == brCustom) store.PutInteger("CustomBaudRate", port.CustomBaudRate());
    store.PutText("StopBits", StopBitsToText(port.StopBits()));
    store.PutText("DataBits", DataBitsToText(port.DataBits()));
    store.PutText("Parity", ParityToText(port.Parity().Bits()));
    store.PutText("FlowControl", FlowControlToText(port.FlowControl().FlowControl()));
  }
  if (groups.Contains(sgOthers)) {
    store.PutText("EventChar", CharToText(port.EventChar()));
    store.PutText("DiscardNull", BoolToText(port.DiscardNull()));
  }
  if (groups.Contains(sgParity)) {
    store.PutText("Parity.Check", BoolToText(port.Parity().Check()));
    store.PutText("Parity.Replace", BoolToText(port.Parity().Replace()));
    store.PutText("Parity.ReplaceChar", CharToText(port.Parity().ReplaceChar()));
  }
  if (groups.Contains(sgBuffer)) {
    store.PutInteger("Buffer.OutputSize", port.Buffer().OutputSize());
    store.PutInteger("Buffer.InputSize", port.Buffer().InputSize());
  }
  if (groups.Contains(sgTimeouts)) {
    const TComTimeouts& t = port.Timeouts();
    store.PutInteger("Timeouts.ReadInterval", t.ReadInterval());
    store.PutInteger("Timeouts.ReadTotalConstant", t.ReadTotalConstant());
    store.PutInteger("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier());
    store.PutInteger("Timeouts.WriteTotalConstant", t.WriteTotalConstant());
    store.PutInteger("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier());
  }
  if (groups.Contains(sgFlowControl)) {
    const TComFlowControl& f = port.FlowControl();
    store.PutText("FlowControl.ControlRTS", RTSControlToText(f.ControlRTS()));
    store.PutText("FlowControl.ControlDTR", DTRControlToText(f.ControlDTR()));
    store.PutText("FlowControl.DSRSensitivity", BoolToText(f.DSRSensitivity()));
    store.PutText("FlowControl.OutCTSFlow", BoolToText(f.OutCTSFlow()));
    store.PutText("FlowControl.OutDSRFlow", BoolToText(f.OutDSRFlow()));
    store.PutText("FlowControl.TxContinueOnXoff", BoolToText(f.TxContinueOnXoff()));
    store.PutText("FlowControl.XonXoffIn", BoolToText(f.XonXoffIn()));
    store.PutText("FlowControl.XonXoffOut", BoolToText(f.XonXoffOut()));
    store.PutText("FlowControl.XoffChar", CharToText(f.XoffChar()));
    store.PutText("FlowControl.XonChar", CharToText(f.XonChar()));
  }
}

// The same rows read back, each assigned through its setter as soon as it is read, so that a
// failure half-way leaves the rows before it assigned. `Store` has GetText(name, current text) and
// GetInteger(name, fallback); the current values serve the stores that fall back to them.
template <typename Store>
void RestoreRows(TCustomComPort& port, Store& store) {
  const TSettingsGroups groups = port.SavedGroups;
  if (groups.Contains(sgBasic)) {
    port.SetPort(store.GetText("Port", port.Port()));
    port.SetBaudRate(TextToBaudRate(store.GetText("BaudRate", BaudRateToText(port.BaudRate()))));
    if (port.BaudRate() == brCustom) {
      port.SetCustomBaudRate(store.GetInteger("CustomBaudRate", 9600));
    }
    port.SetStopBits(TextToStopBits(store.GetText("StopBits", StopBitsToText(port.StopBits()))));
    port.SetDataBits(TextToDataBits(store.GetText("DataBits", DataBitsToText(port.DataBits()))));
    TComParity& p = port.Parity();
    p.SetBits(TextToParity(store.GetText("Parity", ParityToText(p.Bits()))));
    TComFlowControl& f = port.FlowControl();
    f.SetFlowControl(
        TextToFlowControl(store.GetText("FlowControl", FlowControlToText(f.FlowControl()))));
  }
  if (groups.Contains(sgOthers)) {
    port.SetEventChar(TextToChar(store.GetText("EventChar", CharToText(port.EventChar()))));
    port.SetDiscardNull(TextToBool(store.GetText("DiscardNull", BoolToText(port.DiscardNull()))));
  }
  if (groups.Contains(sgParity)) {
    TComParity& p = port.Parity();
    p.SetCheck(TextToBool(store.GetText("Parity.Check", BoolToText(p.Check()))));
    p.SetReplace(TextToBool(store.GetText("Parity.Replace", BoolToText(p.Replace()))));
    p.SetReplaceChar(TextToChar(store.GetText("Parity.ReplaceChar", CharToText(p.ReplaceChar()))));
  }
  if (groups.Contains(sgBuffer)) {
    TComBuffer& b = port.Buffer();
    b.SetOutputSize(store.GetInteger("Buffer.OutputSize", b.OutputSize()));
    b.SetInputSize(store.GetInteger("Buffer.InputSize", b.InputSize()));
  }
  if (groups.Contains(sgTimeouts)) {
    TComTimeouts& t = port.Timeouts();
    t.SetReadInterval(store.GetInteger("Timeouts.ReadInterval", t.ReadInterval()));
    t.SetReadTotalConstant(store.GetInteger("Timeouts.ReadTotalConstant", t.ReadTotalConstant()));
    t.SetReadTotalMultiplier(
        store.GetInteger("Timeouts.ReadTotalMultiplier", t.ReadTotalMultiplier()));
    t.SetWriteTotalConstant(
        store.GetInteger("Timeouts.WriteTotalConstant", t.WriteTotalConstant()));
    t.SetWriteTotalMultiplier(
        store.GetInteger("Timeouts.WriteTotalMultiplier", t.WriteTotalMultiplier()));
  }
  if (groups.Contains(sgFlowControl)) {
    TComFlowControl& f = port.FlowControl();
    f.SetControlRTS(TextToRTSControl(
        store.GetText("FlowControl.ControlRTS", RTSControlToText(f.ControlRTS()))));
    f.SetControlDTR(TextToDTRControl(
        store.GetText("FlowControl.ControlDTR", DTRControlToText(f.ControlDTR()))));
    f.SetDSRSensitivity(
        TextToBool(store.GetText("FlowControl.DSRSensitivity", BoolToText(f.DSRSensitivity()))));
    f.SetOutCTSFlow(
        TextToBool(store.GetText("FlowControl.OutCTSFlow", BoolToText(f.OutCTSFlow()))));
    f.SetOutDSRFlow(
        TextToBool(store.GetText("FlowControl.OutDSRFlow", BoolToText(f.OutDSRFlow()))));
    f.SetTxContinueOnXoff(TextToBool(
        store.GetText("FlowControl.TxContinueOnXoff", BoolToText(f.TxContinueOnXoff()))));
    f.SetXonXoffIn(TextToBool(store.GetText("FlowControl.XonXoffIn", BoolToText(f.XonXoffIn()))));
    f.SetXonXoffOut(
        TextToBool(store.GetText("FlowControl.XonXoffOut", BoolToText(f.XonXoffOut()))));
    f.SetXoffChar(TextToChar(store.GetText("FlowControl.XoffChar", CharToText(f.XoffChar()))));
    f.SetXonChar(TextToChar(store.GetText("FlowControl.XonChar", CharToText(f.XonChar()))));
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

int RegistryAccessor::Query(const std::string& name, platform::RegType& type, std::string& data) {
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
  int rc = Query(name, type, data);
  if (rc == platform::kErrorFileNotFound) return {};
  if (rc != 0) Fail("cannot read value", name, rc);
  if (data.empty()) return {};
  if (type != platform::RegType::Sz && type != platform::RegType::ExpandSz) {
    Fail("not a text value:", name, platform::kErrorInvalidData);
  }
  return data.substr(0, data.find('\0'));
}

std::int32_t RegistryAccessor::ReadInteger(const std::string& name) {
  platform::RegType type{};
  std::string data;
  int rc = Query(name, type, data);
  if (rc != 0) Fail("cannot read value", name, rc);
  if (type != platform::RegType::Dword || data.size() != 4) {
    Fail("not a 4-byte integer value:", name, platform::kErrorInvalidData);
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
  int rc = key_.SetValues(writes, &applied);
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
  if (rc != 0) Fail("cannot write key", key, rc);
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
