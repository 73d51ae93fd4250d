// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/ComStorage.h"

#include <exception>
#include <string_view>
#include <type_traits>

#include "platform/name_case.h"
#include "platform/profile.h"
#include "serial/ComNames.h"
#include "serial/ComPort.h"

namespace tavex {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& name,
                       ESettingsStore::Code code) {
  throw ESettingsStore(what + " \"" + name + "\"", code);
}

// Raises the port's error `errorCode` with `cause` nested in it: the message stays the port's
// own, and whoever reports the error can name the cause too.
// The port's error also names the settings file, and carries the store's code for the operator.
[[noreturn]] void RaiseWithCause(TPortError errorCode, const std::exception_ptr& cause,
                                 const std::string& file) {
  EComPort error(errorCode);
  error.Concerning(file);
  try {
    std::rethrow_exception(cause);
  } catch (const ESettingsStore& failure) {
    std::visit([&error](auto code) { error.CausedBy(code); }, failure.SystemCode());
    std::throw_with_nested(error);
  } catch (...) {
    std::throw_with_nested(error);
  }
}

using Port = TCustomComPort;

enum class RowKind {
  kText,
  kInteger,
  // An integer stored only while BaudRate is brCustom; a file without it gives the class default.
  kCustomRate,
};

// One stored setting: its group, its name, its value as text or as an integer, and the group of
// values whose field it stores (none for the flow-control preset, which is derived).
struct SettingRow {
  TSettingsGroup group;
  const char* name;
  RowKind kind;
  int values;
  std::string (*text)(const Port&);
  void (*setText)(Port&, const std::string&);
  std::int32_t (*integer)(const Port&);
  void (*setInteger)(Port&, std::int32_t);
};

// The stored text form of each field type.
template <typename T>
struct TextForm;
template <>
struct TextForm<std::string> {
  static std::string To(const std::string& v) { return v; }
  static std::string From(const std::string& t) { return t; }
};
template <>
struct TextForm<TBaudRate> {
  static std::string To(TBaudRate v) { return BaudRateToText(v); }
  static TBaudRate From(const std::string& t) { return TextToBaudRate(t); }
};
template <>
struct TextForm<TStopBits> {
  static std::string To(TStopBits v) { return StopBitsToText(v); }
  static TStopBits From(const std::string& t) { return TextToStopBits(t); }
};
template <>
struct TextForm<TDataBits> {
  static std::string To(TDataBits v) { return DataBitsToText(v); }
  static TDataBits From(const std::string& t) { return TextToDataBits(t); }
};
template <>
struct TextForm<TParityBits> {
  static std::string To(TParityBits v) { return ParityToText(v); }
  static TParityBits From(const std::string& t) { return TextToParity(t); }
};
template <>
struct TextForm<TRTSFlowControl> {
  static std::string To(TRTSFlowControl v) { return RTSControlToText(v); }
  static TRTSFlowControl From(const std::string& t) { return TextToRTSControl(t); }
};
template <>
struct TextForm<TDTRFlowControl> {
  static std::string To(TDTRFlowControl v) { return DTRControlToText(v); }
  static TDTRFlowControl From(const std::string& t) { return TextToDTRControl(t); }
};
template <>
struct TextForm<bool> {
  static std::string To(bool v) { return BoolToText(v); }
  static bool From(const std::string& t) { return TextToBool(t); }
};
template <>
struct TextForm<std::uint8_t> {
  static std::string To(std::uint8_t v) { return CharToText(v); }
  static std::uint8_t From(const std::string& t) { return TextToChar(t); }
};

template <auto Field>
struct FieldOf;
template <typename V, typename T, T V::*Field>
struct FieldOf<Field> {
  using Values = V;
  using Type = T;
};

// A number per group of values, naming the group in a row (0: none). A number rather than an
// address, since comparing the addresses of two variables is no constant expression under every
// compiler setting (GCC's AddressSanitizer builds refuse it).
template <typename V>
constexpr int ValuesId() {
  if constexpr (std::is_same_v<V, ComLineValues>) return 1;
  if constexpr (std::is_same_v<V, ComParityValues>) return 2;
  if constexpr (std::is_same_v<V, ComFlowControlValues>) return 3;
  if constexpr (std::is_same_v<V, ComTimeoutsValues>) return 4;
  if constexpr (std::is_same_v<V, ComBufferValues>) return 5;
  return 0;
}

}  // namespace

// The rows reach each group of a port's values, and change them as the setters do.
struct ComSettingsAccess {
  template <typename V, typename P>
  static auto& Group(P& port) {
    if constexpr (std::is_same_v<V, ComLineValues>) return port.line_;
    if constexpr (std::is_same_v<V, ComParityValues>) return port.parity_;
    if constexpr (std::is_same_v<V, ComFlowControlValues>) return port.flowControl_;
    if constexpr (std::is_same_v<V, ComTimeoutsValues>) return port.timeouts_;
    if constexpr (std::is_same_v<V, ComBufferValues>) return port.buffer_;
  }
  template <auto Field>
  static auto Get(const Port& port) {
    return Group<typename FieldOf<Field>::Values>(port).values_.*Field;
  }
  template <auto Field>
  static void Change(Port& port, typename FieldOf<Field>::Type value) {
    TComSettings<typename FieldOf<Field>::Values>& group =
        Group<typename FieldOf<Field>::Values>(port);
    group.Change(Field, value);
  }
};

namespace {

using Access = ComSettingsAccess;

// A row storing `Field`: an integer field as an integer, any other in its text form; restoring
// changes the field as its setter does.
template <auto Field>
constexpr SettingRow Stored(TSettingsGroup group, const char* name,
                            RowKind integerKind = RowKind::kInteger) {
  using T = typename FieldOf<Field>::Type;
  constexpr int values = ValuesId<typename FieldOf<Field>::Values>();
  static_assert(values != 0, "a field of a group of values the rows do not know");
  if constexpr (std::is_same_v<T, std::int32_t>) {
    return {group,
            name,
            integerKind,
            values,
            nullptr,
            nullptr,
            [](const Port& p) { return Access::Get<Field>(p); },
            [](Port& p, std::int32_t n) { Access::Change<Field>(p, n); }};
  } else {
    return {group,
            name,
            RowKind::kText,
            values,
            [](const Port& p) { return TextForm<T>::To(Access::Get<Field>(p)); },
            [](Port& p, const std::string& t) { Access::Change<Field>(p, TextForm<T>::From(t)); },
            nullptr,
            nullptr};
  }
}

// A row storing `Field` whose restore goes through a setter of its own (one that does more than
// store the value).
template <auto Field>
constexpr SettingRow Stored(TSettingsGroup group, const char* name,
                            void (*set)(Port&, const std::string&)) {
  SettingRow row = Stored<Field>(group, name);
  row.setText = set;
  return row;
}
template <auto Field>
constexpr SettingRow Stored(TSettingsGroup group, const char* name,
                            void (*set)(Port&, std::int32_t)) {
  SettingRow row = Stored<Field>(group, name);
  row.setInteger = set;
  return row;
}

constexpr std::int32_t kDefaultCustomBaudRate = 9600;

// Every stored setting in the stored order: basic, others, parity, buffer, timeouts, flow
// control. Restoring assigns them in the same order, each through its setter as soon as it is
// read, so that a failure half-way leaves the rows before it assigned.
constexpr SettingRow kSettingRows[] = {
    Stored<&ComLineValues::port>(sgBasic, "Port",
                                 [](Port& p, const std::string& t) { p.SetPort(t); }),
    Stored<&ComLineValues::baudRate>(sgBasic, "BaudRate"),
    Stored<&ComLineValues::customBaudRate>(sgBasic, "CustomBaudRate", RowKind::kCustomRate),
    Stored<&ComLineValues::stopBits>(sgBasic, "StopBits"),
    Stored<&ComLineValues::dataBits>(sgBasic, "DataBits"),
    Stored<&ComParityValues::bits>(sgBasic, "Parity"),
    {sgBasic, "FlowControl", RowKind::kText, 0,
     [](const Port& p) { return FlowControlToText(p.FlowControl().FlowControl()); },
     [](Port& p, const std::string& t) { p.FlowControl().SetFlowControl(TextToFlowControl(t)); },
     nullptr, nullptr},
    Stored<&ComLineValues::eventChar>(sgOthers, "EventChar"),
    Stored<&ComLineValues::discardNull>(sgOthers, "DiscardNull"),
    Stored<&ComParityValues::check>(sgParity, "Parity.Check"),
    Stored<&ComParityValues::replace>(sgParity, "Parity.Replace"),
    Stored<&ComParityValues::replaceChar>(sgParity, "Parity.ReplaceChar"),
    Stored<&ComBufferValues::outputSize>(
        sgBuffer, "Buffer.OutputSize",
        [](Port& p, std::int32_t n) { p.Buffer().SetOutputSize(n); }),
    Stored<&ComBufferValues::inputSize>(
        sgBuffer, "Buffer.InputSize", [](Port& p, std::int32_t n) { p.Buffer().SetInputSize(n); }),
    Stored<&ComTimeoutsValues::readInterval>(sgTimeouts, "Timeouts.ReadInterval"),
    Stored<&ComTimeoutsValues::readTotalConstant>(sgTimeouts, "Timeouts.ReadTotalConstant"),
    Stored<&ComTimeoutsValues::readTotalMultiplier>(sgTimeouts, "Timeouts.ReadTotalMultiplier"),
    Stored<&ComTimeoutsValues::writeTotalConstant>(sgTimeouts, "Timeouts.WriteTotalConstant"),
    Stored<&ComTimeoutsValues::writeTotalMultiplier>(sgTimeouts, "Timeouts.WriteTotalMultiplier"),
    Stored<&ComFlowControlValues::controlRTS>(sgFlowControl, "FlowControl.ControlRTS"),
    Stored<&ComFlowControlValues::controlDTR>(sgFlowControl, "FlowControl.ControlDTR"),
    Stored<&ComFlowControlValues::dsrSensitivity>(sgFlowControl, "FlowControl.DSRSensitivity"),
    Stored<&ComFlowControlValues::outCTSFlow>(sgFlowControl, "FlowControl.OutCTSFlow"),
    Stored<&ComFlowControlValues::outDSRFlow>(sgFlowControl, "FlowControl.OutDSRFlow"),
    Stored<&ComFlowControlValues::txContinueOnXoff>(sgFlowControl, "FlowControl.TxContinueOnXoff"),
    Stored<&ComFlowControlValues::xonXoffIn>(sgFlowControl, "FlowControl.XonXoffIn"),
    Stored<&ComFlowControlValues::xonXoffOut>(sgFlowControl, "FlowControl.XonXoffOut"),
    Stored<&ComFlowControlValues::xoffChar>(sgFlowControl, "FlowControl.XoffChar"),
    Stored<&ComFlowControlValues::xonChar>(sgFlowControl, "FlowControl.XonChar"),
};

// ---- Every field has its stored name ----

// Converts to any field type: an aggregate takes as many of them as it has fields.
struct AnyField {
  template <typename T>
  operator T() const;  // NOLINT(google-explicit-constructor): only ever used unevaluated
};

template <typename V, typename... Fields>
constexpr std::size_t FieldCount() {
  if constexpr (requires { V{Fields{}..., AnyField{}}; }) {
    return FieldCount<V, Fields..., AnyField>();
  } else {
    return sizeof...(Fields);
  }
}

template <typename V>
constexpr bool EveryFieldStored() {
  std::size_t rows = 0;
  for (const SettingRow& row : kSettingRows) rows += row.values == ValuesId<V>() ? 1U : 0U;
  return rows == FieldCount<V>();
}

constexpr bool NamesDiffer() {
  for (const SettingRow& a : kSettingRows) {
    for (const SettingRow& b : kSettingRows) {
      if (&a != &b && std::string_view(a.name) == std::string_view(b.name)) return false;
    }
  }
  return true;
}

static_assert(EveryFieldStored<ComLineValues>(), "a field of ComLineValues has no stored row");
static_assert(EveryFieldStored<ComParityValues>(), "a field of ComParityValues has no stored row");
static_assert(EveryFieldStored<ComFlowControlValues>(),
              "a field of ComFlowControlValues has no stored row");
static_assert(EveryFieldStored<ComTimeoutsValues>(),
              "a field of ComTimeoutsValues has no stored row");
static_assert(EveryFieldStored<ComBufferValues>(), "a field of ComBufferValues has no stored row");
static_assert(NamesDiffer(), "two rows with one stored name");

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

ESettingsStore::ESettingsStore(const std::string& what, Code code)
    : std::runtime_error(what + " (" + platform::CodeDetail(code) + ")"), code_(code) {}

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
  const platform::RegStatus rc = canCreate ? platform::RegistryKey::Create(RootKey, path, key)
                                           : platform::RegistryKey::Open(RootKey, path, key);
  if (!rc.Ok()) return false;
  key_ = key;
  return true;
}

void RegistryAccessor::CloseKey() {
  key_.Close();
  pending_.clear();
  haveSnapshot_ = false;
}

platform::RegStatus RegistryAccessor::Query(const std::string& name, platform::RegType& type,
                                            std::string& data) {
  FlushWrites();
  if (!key_.IsOpen()) return platform::RegResult::kInvalidHandle;
  if (!haveSnapshot_) {
    snapshotResult_ = key_.QueryValues(snapshot_);
    haveSnapshot_ = true;
  }
  if (!snapshotResult_.Ok()) return snapshotResult_;
  for (const platform::RegValueWrite& value : snapshot_) {
    if (platform::EqualsNoCase(value.name, name)) {
      type = value.type;
      data = value.data;
      return platform::RegResult::kSuccess;
    }
  }
  return platform::RegResult::kFileNotFound;
}

std::string RegistryAccessor::ReadString(const std::string& name) {
  if (!key_.IsOpen()) return {};
  platform::RegType type{};
  std::string data;
  const platform::RegStatus rc = Query(name, type, data);
  if (rc == platform::RegResult::kFileNotFound) return {};
  if (!rc.Ok()) Fail("cannot read value", name, rc.Get());
  if (data.empty()) return {};
  if (type != platform::RegType::Sz && type != platform::RegType::ExpandSz) {
    Fail("not a text value:", name, platform::RegResult::kInvalidData);
  }
  return data.substr(0, data.find('\0'));
}

std::int32_t RegistryAccessor::ReadInteger(const std::string& name) {
  platform::RegType type{};
  std::string data;
  const platform::RegStatus rc = Query(name, type, data);
  if (!rc.Ok()) Fail("cannot read value", name, rc.Get());
  if (type != platform::RegType::Dword || data.size() != 4) {
    Fail("not a 4-byte integer value:", name, platform::RegResult::kInvalidData);
  }
  return static_cast<std::int32_t>(platform::DwordValue(data));
}

void RegistryAccessor::WriteString(const std::string& name, const std::string& text) {
  pending_.push_back({name, platform::RegType::Sz, text + '\0'});
  if (!holding_) FlushWrites();
}

void RegistryAccessor::WriteInteger(const std::string& name, std::int32_t value) {
  // The two's complement bits: -1 is stored as all bits set.
  pending_.push_back(
      {name, platform::RegType::Dword, platform::DwordData(static_cast<std::uint32_t>(value))});
  if (!holding_) FlushWrites();
}

void RegistryAccessor::FlushWrites() {
  if (pending_.empty()) return;
  haveSnapshot_ = false;
  std::vector<platform::RegValueWrite> writes;
  writes.swap(pending_);
  std::size_t applied = 0;
  const platform::RegStatus rc = key_.SetValues(writes, &applied);
  if (!rc.Ok()) {
    Fail("cannot write value", writes[applied < writes.size() ? applied : 0].name, rc.Get());
  }
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
  std::string file = StoreTo;
  try {
    if (StoreType == ssRegistry) {
      RegistryAccessor reg;
      // One rewrite of the hive for the whole set; what was written before a failure still
      // reaches the store.
      reg.HoldWrites();
      OpenSettingsKey(reg, StoreTo, Name());
      file = platform::HivePath(reg.RootKey);
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
    RaiseWithCause(peStoreFailed, std::current_exception(), file);
  }
}

void TCustomComPort::RestoreSettings(TSettingsStore StoreType, const std::string& StoreFrom) {
  BeginUpdate();
  std::exception_ptr failure;  // the first one
  std::string file = StoreFrom;
  try {
    if (StoreType == ssRegistry) {
      RegistryAccessor reg;
      OpenSettingsKey(reg, StoreFrom, Name());
      file = platform::HivePath(reg.RootKey);
      RestoreFromRegistry(reg);
    } else {
      IniAccessor ini(StoreFrom, Name());
      RestoreFromIniFile(ini);
    }
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    EndUpdate();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (failure) RaiseWithCause(peLoadFailed, failure, file);
}

}  // namespace tavex
