// SPDX-License-Identifier: GPL-3.0-or-later
// The serial port object: line settings with their defaults, opening and closing the device,
// transfers, line status, the event thread and its notifications, settings storage.
// No toolkit header may be included here: the window and the setup dialog sit above this layer.
#pragma once

#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "platform/system_code.h"
#include "serial/ComSet.h"

namespace tavex::platform {
class SerialDevice;
struct LineSettings;
struct Timeouts;
}  // namespace tavex::platform

namespace tavex {

// ---- Enumerations (the ordinals are part of the stored and shown forms) ----

// Laid out by hand, as a table of the members.
// clang-format off
enum TBaudRate : std::uint8_t {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600,
  br14400, br19200, br38400, br56000, br57600, br115200, br128000, br256000
};
enum TStopBits : std::uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : std::uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : std::uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : std::uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : std::uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : std::uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent : std::uint8_t {
  evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
enum TSyncMethod : std::uint8_t { smThreadSync, smWindowSync, smNone };
enum TComError : std::uint8_t {
  ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull
};
enum TLineSignal : std::uint8_t { lsCTS, lsDSR, lsRing, lsRLSD };
enum TSettingsStore : std::uint8_t { ssRegistry, ssIniFile };
enum TSettingsGroup : std::uint8_t {
  sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers
};
// clang-format on

// The bits per second each TBaudRate member names, in the enumeration's order; brCustom names
// none (CustomBaudRate gives the rate). Device settings and the stored and shown texts use this.
inline constexpr std::uint32_t kBaudRates[] = {0,     110,    300,    600,   1200,  2400,
                                               4800,  9600,   14400,  19200, 38400, 56000,
                                               57600, 115200, 128000, 256000};
static_assert(std::size(kBaudRates) == br256000 + 1, "one rate per TBaudRate member");
static_assert(kBaudRates[br110] == 110 && kBaudRates[br4800] == 4800 &&
                  kBaudRates[br56000] == 56000 && kBaudRates[br256000] == 256000,
              "rates in the enumeration's order");

using TComEvents = TSet<TComEvent, std::uint16_t>;
using TComErrors = TSet<TComError, std::uint8_t>;
using TLineSignals = TSet<TLineSignal, std::uint8_t>;
using TSettingsGroups = TSet<TSettingsGroup, std::uint8_t>;

inline constexpr TComEvents kAllComEvents = TComEvents::FromBits(0x3FF);

// ---- Errors ----

// The port's error codes, indexes into its message table; the values are the port's own and
// appear in messages and logs. Some have no operation here that raises them.
enum TPortError : std::int32_t {
  peOpenFailed = 1,      // "Unable to open com port"
  peWriteFailed,         // "WriteFile function failed"
  peReadFailed,          // "ReadFile function failed"
  peInvalidAsyncParam,   // "Invalid Async parameter"
  pePurgeFailed,         // "PurgeComm function failed"
  peAsyncStatus,         // "Unable to get async status"
  peSetStateFailed,      // "SetCommState function failed": line settings
  peSetTimeoutsFailed,   // "SetCommTimeouts failed"
  peSetupCommFailed,     // "SetupComm function failed": buffer sizes
  peClearErrorFailed,    // "ClearCommError function failed": input count, line errors
  peModemStatusFailed,   // "GetCommModemStatus function failed": line signals
  peEscapeFailed,        // "EscapeCommFunction function failed"
  peTransmitCharFailed,  // "TransmitCommChar function failed"
  peSetWhileConnected,   // "Cannot set property while connected"
  peEnumPortsFailed,     // "EnumPorts function failed"
  peStoreFailed,         // "Failed to store settings"
  peLoadFailed,          // "Failed to load settings"
  peLinkRegistration,    // "Link (un)registration failed"
  peLedWhileSelected,    // "Cannot change led state if ComPort is selected"
  peWaitWithThread,      // "Cannot wait for event if event thread is created"
  peWaitForEventFailed,  // "WaitForEvent method failed": setting the event mask
  peRxBufLinked,         // "A component is linked to OnRxBuf event"
  peRegistry,            // "Registry error": listing the installed ports
};

// The two lines of an error's explanation (text domain "default"); %s is what the system
// reports, and the file.
inline constexpr const char* kSystemReportsText = "The system reports: %s.";
inline constexpr const char* kFileText = "File: %s";

// The port's exception: an entry of the message table and the system's code of the failure (an
// errno value, or a result of the registry store), or -1 when the failure has none.
class EComPort : public std::runtime_error {
 public:
  explicit EComPort(TPortError errorCode);  // SystemCode -1
  // The message gets " (win error code: %d)" with the code.
  EComPort(TPortError errorCode, platform::Errno systemCode);
  EComPort(TPortError errorCode, platform::RegResult systemCode);
  // A bare number does not say which kind of code it is.
  EComPort(TPortError errorCode, int systemCode) = delete;
  TPortError ErrorCode() const noexcept { return errorCode_; }
  int SystemCode() const noexcept { return systemCode_; }

  // The system's code behind an error whose text shows none (a settings file that cannot be
  // written): described in Explanation, while SystemCode stays -1 and the text stays as it is.
  EComPort& CausedBy(platform::Errno code);
  EComPort& CausedBy(platform::RegResult code);
  // The file or folder the failure concerns (a settings file, the kernel's device list).
  EComPort& Concerning(std::string file);
  const std::string& File() const noexcept { return file_; }
  // What the operator is told beside the port's own text, in the operator's language (text
  // domain "default"): what the system reports for the code, and the file concerned, one line
  // each; empty when there is neither.
  std::string Explanation() const;

 private:
  using Cause = std::variant<std::monostate, platform::Errno, platform::RegResult>;
  EComPort(TPortError errorCode, int systemCode, Cause cause);

  TPortError errorCode_;
  int systemCode_;
  Cause cause_;
  std::string file_;
};

// The message table, translated once when the module starts (text domain "default"); empty for
// a code outside it.
const std::string& ComErrorText(int errorCode);

// The error's message followed by those of the causes nested in it, each after ": ". A port
// error shows only its own message; this is the whole story, for logs.
std::string MessageWithCauses(const std::exception& error);

class TCustomComPort;

// ---- Setting values ----
// Each group of settings is a plain struct of values with their class defaults; copying a group
// copies every field. Adding a setting takes a field here, its stored name in the row table of
// ComStorage.cpp (the build fails while a field has none) and its use where the group reaches the
// device (BuildLineSettings, BuildTimeouts or ApplyBufferSizes).

// The port's own settings; a change re-applies the line settings, a new Port reopens the device.
struct ComLineValues {
  std::string port = "COM1";
  TBaudRate baudRate = br9600;
  std::int32_t customBaudRate = 9600;  // bits per second while baudRate is brCustom
  TStopBits stopBits = sbOneStopBit;
  TDataBits dataBits = dbEight;
  bool discardNull = false;
  std::uint8_t eventChar = 0;
  friend bool operator==(const ComLineValues&, const ComLineValues&) = default;
};

// Re-applies the line settings.
struct ComParityValues {
  TParityBits bits = prNone;
  bool check = false;
  bool replace = false;
  std::uint8_t replaceChar = 0;
  friend bool operator==(const ComParityValues&, const ComParityValues&) = default;
};

// Re-applies the line settings.
struct ComFlowControlValues {
  bool outCTSFlow = false;
  bool outDSRFlow = false;
  TDTRFlowControl controlDTR = dtrDisable;
  TRTSFlowControl controlRTS = rtsDisable;
  bool xonXoffOut = false;
  bool xonXoffIn = false;
  bool dsrSensitivity = false;
  bool txContinueOnXoff = false;
  std::uint8_t xonChar = 17;
  std::uint8_t xoffChar = 19;
  friend bool operator==(const ComFlowControlValues&, const ComFlowControlValues&) = default;
};

// Re-applies the time-outs; milliseconds, in the order they reach the device.
struct ComTimeoutsValues {
  std::int32_t readInterval = -1;  // reaches the device bit for bit: all bits set
  std::int32_t readTotalMultiplier = 0;
  std::int32_t readTotalConstant = 0;
  std::int32_t writeTotalMultiplier = 100;
  std::int32_t writeTotalConstant = 1000;
  friend bool operator==(const ComTimeoutsValues&, const ComTimeoutsValues&) = default;
};

// Re-applies the buffer sizes; bytes, kept even by the setters.
struct ComBufferValues {
  std::int32_t inputSize = 1024;
  std::int32_t outputSize = 1024;
  friend bool operator==(const ComBufferValues&, const ComBufferValues&) = default;
};

// The link from a settings object to the port that owns it. A copy starts free-standing and an
// assignment keeps the owner its target has, so settings objects copy their values by default.
class TComOwner {
 public:
  explicit TComOwner(TCustomComPort* port = nullptr) noexcept : port_(port) {}
  TComOwner(const TComOwner&) noexcept {}
  TComOwner& operator=(const TComOwner&) noexcept { return *this; }
  TCustomComPort* Port() const noexcept { return port_; }

 private:
  TCustomComPort* port_ = nullptr;
};

struct ComSettingsAccess;  // serial/ComStorage.cpp: the stored rows reach the values through it

// A group of values with the port that owns it, if any. Every setter goes through Change: the
// value is stored when it differs, and an owned group then has its port re-apply it.
template <typename V>
class TComSettings {
 public:
  explicit TComSettings(TCustomComPort* owner = nullptr) : owner_(owner) {}
  const V& Values() const { return values_; }
  TCustomComPort* ComPort() const { return owner_.Port(); }

 protected:
  template <typename T>
  void Change(T V::*field, T value);
  // Stores every value and has the owner re-apply the group, changed or not.
  void ChangeAll(const V& values);

  V values_;

 private:
  friend class TCustomComPort;
  friend struct ComSettingsAccess;
  TComOwner owner_;
};

// ---- Settings objects, owned by a port; a copy is free-standing, an assignment copies the
// values and re-applies nothing ----

class TComTimeouts : public TComSettings<ComTimeoutsValues> {
 public:
  using TComSettings::TComSettings;

  std::int32_t ReadInterval() const { return values_.readInterval; }
  std::int32_t ReadTotalMultiplier() const { return values_.readTotalMultiplier; }
  std::int32_t ReadTotalConstant() const { return values_.readTotalConstant; }
  std::int32_t WriteTotalMultiplier() const { return values_.writeTotalMultiplier; }
  std::int32_t WriteTotalConstant() const { return values_.writeTotalConstant; }
  void SetReadInterval(std::int32_t value) { Change(&V::readInterval, value); }
  void SetReadTotalMultiplier(std::int32_t value) { Change(&V::readTotalMultiplier, value); }
  void SetReadTotalConstant(std::int32_t value) { Change(&V::readTotalConstant, value); }
  void SetWriteTotalMultiplier(std::int32_t value) { Change(&V::writeTotalMultiplier, value); }
  void SetWriteTotalConstant(std::int32_t value) { Change(&V::writeTotalConstant, value); }

 private:
  using V = ComTimeoutsValues;
};

class TComFlowControl : public TComSettings<ComFlowControlValues> {
 public:
  using TComSettings::TComSettings;

  bool OutCTSFlow() const { return values_.outCTSFlow; }
  bool OutDSRFlow() const { return values_.outDSRFlow; }
  TDTRFlowControl ControlDTR() const { return values_.controlDTR; }
  TRTSFlowControl ControlRTS() const { return values_.controlRTS; }
  bool XonXoffOut() const { return values_.xonXoffOut; }
  bool XonXoffIn() const { return values_.xonXoffIn; }
  bool DSRSensitivity() const { return values_.dsrSensitivity; }
  bool TxContinueOnXoff() const { return values_.txContinueOnXoff; }
  std::uint8_t XonChar() const { return values_.xonChar; }
  std::uint8_t XoffChar() const { return values_.xoffChar; }
  // The preset derived from ControlRTS, OutCTSFlow, XonXoffIn and XonXoffOut.
  TFlowControl FlowControl() const;

  void SetOutCTSFlow(bool value) { Change(&V::outCTSFlow, value); }
  void SetOutDSRFlow(bool value) { Change(&V::outDSRFlow, value); }
  void SetControlDTR(TDTRFlowControl value) { Change(&V::controlDTR, value); }
  void SetControlRTS(TRTSFlowControl value) { Change(&V::controlRTS, value); }
  void SetXonXoffOut(bool value) { Change(&V::xonXoffOut, value); }
  void SetXonXoffIn(bool value) { Change(&V::xonXoffIn, value); }
  void SetDSRSensitivity(bool value) { Change(&V::dsrSensitivity, value); }
  void SetTxContinueOnXoff(bool value) { Change(&V::txContinueOnXoff, value); }
  void SetXonChar(std::uint8_t value) { Change(&V::xonChar, value); }
  void SetXoffChar(std::uint8_t value) { Change(&V::xoffChar, value); }
  // Every write of the preset re-applies the line settings, fcCustom and unchanged values too.
  void SetFlowControl(TFlowControl value);

 private:
  using V = ComFlowControlValues;
};

class TComParity : public TComSettings<ComParityValues> {
 public:
  using TComSettings::TComSettings;

  TParityBits Bits() const { return values_.bits; }
  bool Check() const { return values_.check; }
  bool Replace() const { return values_.replace; }
  std::uint8_t ReplaceChar() const { return values_.replaceChar; }
  void SetBits(TParityBits value) { Change(&V::bits, value); }
  void SetCheck(bool value) { Change(&V::check, value); }
  void SetReplace(bool value) { Change(&V::replace, value); }
  void SetReplaceChar(std::uint8_t value) { Change(&V::replaceChar, value); }

 private:
  using V = ComParityValues;
};

class TComBuffer : public TComSettings<ComBufferValues> {
 public:
  using TComSettings::TComSettings;

  std::int32_t InputSize() const { return values_.inputSize; }
  std::int32_t OutputSize() const { return values_.outputSize; }
  void SetInputSize(std::int32_t value);   // an odd value is stored minus 1
  void SetOutputSize(std::int32_t value);  // an odd value is stored minus 1
};

// ---- Notification handler types; Sender is always the port ----

using TNotifyEvent = std::function<void(TCustomComPort& Sender)>;
using TRxCharEvent = std::function<void(TCustomComPort& Sender, std::int32_t Count)>;
using TRxBufEvent =
    std::function<void(TCustomComPort& Sender, const std::uint8_t* Buffer, std::int32_t Count)>;
using TComSignalEvent = std::function<void(TCustomComPort& Sender, bool OnOff)>;
using TComErrorEvent = std::function<void(TCustomComPort& Sender, TComErrors Errors)>;

// Told when a port object is destroyed (the setup dialog's lists forget their port).
class TComPortObserver {
 public:
  virtual void ComPortDestroyed(TCustomComPort& port) = 0;

 protected:
  ~TComPortObserver() = default;
};

class RegistryAccessor;  // serial/ComStorage.h
class IniAccessor;       // serial/ComStorage.h
class THandover;         // serial/Handover.h
class TComThread;        // serial/ComThread.h
class TComNotifyTarget;  // serial/ComThread.h: stands in for the notification window

class TCustomComPort {
 public:
  TCustomComPort();
  virtual ~TCustomComPort();  // performs Close
  TCustomComPort(const TCustomComPort&) = delete;
  TCustomComPort& operator=(const TCustomComPort&) = delete;

  // ---- Connection ----
  void Open();
  void Close();
  bool Connected() const { return connected_; }
  void SetConnected(bool value);
  void BeginUpdate();
  void EndUpdate();
  // An owner that sets the properties in a batch (as a form would) may call BeginLoading first:
  // until Loaded, writes to Connected are only recorded and nothing reaches a device.
  void BeginLoading();
  // The owner calls this after setting the properties: a stored Connected of true opens the port;
  // an error from that Open goes to the default exception report, not to the caller.
  void Loaded();

  // ---- Settings ----
  const std::string& Name() const { return name_; }
  void SetName(const std::string& value) { name_ = value; }
  const std::string& Port() const { return line_.values_.port; }
  void SetPort(const std::string& value);
  TBaudRate BaudRate() const { return line_.values_.baudRate; }
  void SetBaudRate(TBaudRate value) { line_.Change(&ComLineValues::baudRate, value); }
  std::int32_t CustomBaudRate() const { return line_.values_.customBaudRate; }
  void SetCustomBaudRate(std::int32_t value) {
    line_.Change(&ComLineValues::customBaudRate, value);
  }
  TStopBits StopBits() const { return line_.values_.stopBits; }
  void SetStopBits(TStopBits value) { line_.Change(&ComLineValues::stopBits, value); }
  TDataBits DataBits() const { return line_.values_.dataBits; }
  void SetDataBits(TDataBits value) { line_.Change(&ComLineValues::dataBits, value); }
  bool DiscardNull() const { return line_.values_.discardNull; }
  void SetDiscardNull(bool value) { line_.Change(&ComLineValues::discardNull, value); }
  std::uint8_t EventChar() const { return line_.values_.eventChar; }
  void SetEventChar(std::uint8_t value) { line_.Change(&ComLineValues::eventChar, value); }
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value);  // takes effect at the next Open
  TSyncMethod SyncMethod() const { return syncMethod_; }
  void SetSyncMethod(TSyncMethod value);  // error 14 while connected

  TComParity& Parity() { return parity_; }
  const TComParity& Parity() const { return parity_; }
  void SetParity(const TComParity& value);  // copies, then re-applies the line settings
  TComFlowControl& FlowControl() { return flowControl_; }
  const TComFlowControl& FlowControl() const { return flowControl_; }
  void SetFlowControl(const TComFlowControl& value);
  TComTimeouts& Timeouts() { return timeouts_; }
  const TComTimeouts& Timeouts() const { return timeouts_; }
  void SetTimeouts(const TComTimeouts& value);
  TComBuffer& Buffer() { return buffer_; }
  const TComBuffer& Buffer() const { return buffer_; }
  void SetBuffer(const TComBuffer& value);

  TSettingsGroups SavedGroups = TSettingsGroups{sgBasic};

  // ---- Transfers and line status ----
  void ClearBuffer(bool Input, bool Output);
  std::int32_t WriteStr(const std::string& Str);
  std::int32_t ReadStr(std::string& Str, std::int32_t Count);
  std::int32_t InputCount();
  TLineSignals LineSignals();
  TComErrors LineErrors();

  // ---- Storage ----
  void SaveSettings(TSettingsStore StoreType, const std::string& StoreTo);
  void RestoreSettings(TSettingsStore StoreType, const std::string& StoreFrom);

  // ---- Setup dialog (registered by the dialog library, which may use a toolkit) ----
  using SetupDialogRunner = std::function<void(TCustomComPort& port)>;
  static void RegisterSetupDialog(SetupDialogRunner runner);
  void ShowSetupDialog();

  // ---- Destruction notice ----
  void FreeNotification(TComPortObserver* observer);
  void RemoveFreeNotification(TComPortObserver* observer);

  // ---- Hand-over of event deliveries to the owner's thread; default: THandover::Main() ----
  void SetHandover(THandover* handover) { handover_ = handover; }
  THandover& Handover() const;

  // ---- Notification handler slots ----
  TNotifyEvent OnBeforeOpen, OnAfterOpen, OnBeforeClose, OnAfterClose;
  TRxCharEvent OnRxChar;
  TRxBufEvent OnRxBuf;
  TNotifyEvent OnTxEmpty, OnBreak, OnRing;
  TComSignalEvent OnCTSChange, OnDSRChange, OnRLSDChange;
  TNotifyEvent OnRxFlag;
  TComErrorEvent OnError;
  TNotifyEvent OnRx80Full;

  // Used by the event thread and the notification target.
  platform::SerialDevice* Device() const { return device_.get(); }
  void DispatchEvents(TComEvents events);
  void DispatchEvent(TComEvent event);  // one step of DispatchEvents

  // The device configuration the settings stand for (what ApplyLineSettings and ApplyTimeouts
  // hand to the device).
  platform::LineSettings BuildLineSettings() const;
  platform::Timeouts BuildTimeouts() const;

 protected:
  // ---- Overridable operations, in slot order ----
  virtual void SaveToRegistry(RegistryAccessor& reg);
  virtual void SaveToIniFile(IniAccessor& ini);
  virtual void RestoreFromRegistry(RegistryAccessor& reg);
  virtual void RestoreFromIniFile(IniAccessor& ini);
  virtual void OpenDevice();
  virtual void CloseDevice();
  virtual void ApplySettings();

  virtual void DoAfterClose();
  virtual void DoAfterOpen();
  virtual void DoBeforeClose();
  virtual void DoBeforeOpen();
  virtual void DoRxChar(std::int32_t Count);
  virtual void DoRxBuf(const std::uint8_t* Buffer, std::int32_t Count);
  virtual void DoTxEmpty();
  virtual void DoBreak();
  virtual void DoRing();
  virtual void DoRxFlag();
  virtual void DoCTSChange(bool OnOff);
  virtual void DoDSRChange(bool OnOff);
  virtual void DoError(TComErrors Errors);
  virtual void DoRLSDChange(bool OnOff);
  virtual void DoRx80Full();

  virtual void ApplyLineSettings();
  virtual void ApplyTimeouts();
  virtual void ApplyBufferSizes();

 private:
  template <typename V>
  friend class TComSettings;
  friend struct ComSettingsAccess;

  // The apply operation through which each group reaches the device.
  void Reapply(const ComLineValues&) { ApplyLineSettings(); }
  void Reapply(const ComParityValues&) { ApplyLineSettings(); }
  void Reapply(const ComFlowControlValues&) { ApplyLineSettings(); }
  void Reapply(const ComTimeoutsValues&) { ApplyTimeouts(); }
  void Reapply(const ComBufferValues&) { ApplyBufferSizes(); }

  bool CanApply() const;
  void CallAfterOpen();
  void CallBeforeClose();

  std::string name_ = "ComPort";
  TComSettings<ComLineValues> line_{this};
  TComParity parity_{this};
  TComTimeouts timeouts_{this};
  TComFlowControl flowControl_{this};
  TComBuffer buffer_{this};
  TComEvents events_ = kAllComEvents;  // read at Open
  TSyncMethod syncMethod_ = smThreadSync;

  // Declared in the order that lets them go on destruction: the event thread first (it uses the
  // notification target and the device), then the target, then the device.
  std::unique_ptr<platform::SerialDevice> device_;
  std::unique_ptr<TComNotifyTarget> notifyTarget_;
  std::unique_ptr<TComThread> eventThread_;  // exists while the port is open and watches events
  bool connected_ = false;
  int updateCount_ = 0;
  bool loading_ = false;
  bool connectWhenLoaded_ = false;
  THandover* handover_ = nullptr;
  std::vector<TComPortObserver*> observers_;
};

template <typename V>
template <typename T>
void TComSettings<V>::Change(T V::*field, T value) {
  if (values_.*field == value) return;
  values_.*field = value;
  if (TCustomComPort* port = owner_.Port()) port->Reapply(values_);
}

template <typename V>
void TComSettings<V>::ChangeAll(const V& values) {
  values_ = values;
  if (TCustomComPort* port = owner_.Port()) port->Reapply(values_);
}

// The published form; it adds nothing but the published properties.
class TComPort : public TCustomComPort {
 public:
  TComPort() = default;
};

// The application's default exception report, used where an error must not propagate (the
// deferred open of Loaded, a notification target's step). The window installs a message box;
// the default writes the message to stderr.
using ExceptionReporter = std::function<void(const std::exception& error)>;
void SetDefaultExceptionReporter(ExceptionReporter reporter);
void ReportException(const std::exception& error);

}  // namespace tavex
