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
  peInvalidAsyncParam,   // "Invalid Async parameter": a transfer given no request record
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

 private:
  struct WithCode {};
  EComPort(TPortError errorCode, int systemCode, WithCode);

  TPortError errorCode_;
  int systemCode_;
};

// The message table, translated once when the module starts (text domain "default"); empty for
// a code outside it.
const std::string& ComErrorText(int errorCode);

class TCustomComPort;

// ---- Settings objects, owned by a port; a free-standing copy has no owner ----

class TComTimeouts {
 public:
  explicit TComTimeouts(TCustomComPort* owner = nullptr) : owner_(owner) {}
  TComTimeouts(const TComTimeouts& other);             // a free-standing copy
  TComTimeouts& operator=(const TComTimeouts& other);  // copies the members, re-applies nothing

  std::int32_t ReadInterval() const { return readInterval_; }
  std::int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
  std::int32_t ReadTotalConstant() const { return readTotalConstant_; }
  std::int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  std::int32_t WriteTotalConstant() const { return writeTotalConstant_; }
  void SetReadInterval(std::int32_t value);
  void SetReadTotalMultiplier(std::int32_t value);
  void SetReadTotalConstant(std::int32_t value);
  void SetWriteTotalMultiplier(std::int32_t value);
  void SetWriteTotalConstant(std::int32_t value);
  TCustomComPort* ComPort() const { return owner_; }

 private:
  TCustomComPort* owner_;
  std::int32_t readInterval_ = -1;
  std::int32_t readTotalMultiplier_ = 0;
  std::int32_t readTotalConstant_ = 0;
  std::int32_t writeTotalMultiplier_ = 100;
  std::int32_t writeTotalConstant_ = 1000;
};

class TComFlowControl {
 public:
  explicit TComFlowControl(TCustomComPort* owner = nullptr) : owner_(owner) {}
  TComFlowControl(const TComFlowControl& other);
  TComFlowControl& operator=(const TComFlowControl& other);

  bool OutCTSFlow() const { return outCTSFlow_; }
  bool OutDSRFlow() const { return outDSRFlow_; }
  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  TRTSFlowControl ControlRTS() const { return controlRTS_; }
  bool XonXoffOut() const { return xonXoffOut_; }
  bool XonXoffIn() const { return xonXoffIn_; }
  bool DSRSensitivity() const { return dsrSensitivity_; }
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  std::uint8_t XonChar() const { return xonChar_; }
  std::uint8_t XoffChar() const { return xoffChar_; }
  // The preset derived from ControlRTS, OutCTSFlow, XonXoffIn and XonXoffOut.
  TFlowControl FlowControl() const;

  void SetOutCTSFlow(bool value);
  void SetOutDSRFlow(bool value);
  void SetControlDTR(TDTRFlowControl value);
  void SetControlRTS(TRTSFlowControl value);
  void SetXonXoffOut(bool value);
  void SetXonXoffIn(bool value);
  void SetDSRSensitivity(bool value);
  void SetTxContinueOnXoff(bool value);
  void SetXonChar(std::uint8_t value);
  void SetXoffChar(std::uint8_t value);
  // Every write of the preset re-applies the line settings, fcCustom and unchanged values too.
  void SetFlowControl(TFlowControl value);
  TCustomComPort* ComPort() const { return owner_; }

 private:
  TCustomComPort* owner_;
  bool outCTSFlow_ = false;
  bool outDSRFlow_ = false;
  TDTRFlowControl controlDTR_ = dtrDisable;
  TRTSFlowControl controlRTS_ = rtsDisable;
  bool xonXoffOut_ = false;
  bool xonXoffIn_ = false;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  std::uint8_t xonChar_ = 17;
  std::uint8_t xoffChar_ = 19;
};

class TComParity {
 public:
  explicit TComParity(TCustomComPort* owner = nullptr) : owner_(owner) {}
  TComParity(const TComParity& other);
  TComParity& operator=(const TComParity& other);

  TParityBits Bits() const { return bits_; }
  bool Check() const { return check_; }
  bool Replace() const { return replace_; }
  std::uint8_t ReplaceChar() const { return replaceChar_; }
  void SetBits(TParityBits value);
  void SetCheck(bool value);
  void SetReplace(bool value);
  void SetReplaceChar(std::uint8_t value);
  TCustomComPort* ComPort() const { return owner_; }

 private:
  TCustomComPort* owner_;
  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  std::uint8_t replaceChar_ = 0;
};

class TComBuffer {
 public:
  explicit TComBuffer(TCustomComPort* owner = nullptr) : owner_(owner) {}
  TComBuffer(const TComBuffer& other);
  TComBuffer& operator=(const TComBuffer& other);

  std::int32_t InputSize() const { return inputSize_; }
  std::int32_t OutputSize() const { return outputSize_; }
  void SetInputSize(std::int32_t value);   // an odd value is stored minus 1
  void SetOutputSize(std::int32_t value);  // an odd value is stored minus 1
  TCustomComPort* ComPort() const { return owner_; }

 private:
  TCustomComPort* owner_;
  std::int32_t inputSize_ = 1024;
  std::int32_t outputSize_ = 1024;
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
  virtual ~TCustomComPort();  // performs Close, then frees the settings objects
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
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& value);
  TBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TBaudRate value);
  std::int32_t CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(std::int32_t value);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits value);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits value);
  bool DiscardNull() const { return discardNull_; }
  void SetDiscardNull(bool value);
  std::uint8_t EventChar() const { return eventChar_; }
  void SetEventChar(std::uint8_t value);
  TComEvents Events() const { return events_; }
  void SetEvents(TComEvents value);  // takes effect at the next Open
  TSyncMethod SyncMethod() const { return syncMethod_; }
  void SetSyncMethod(TSyncMethod value);  // error 14 while connected

  TComParity& Parity() { return *parity_; }
  const TComParity& Parity() const { return *parity_; }
  void SetParity(const TComParity& value);  // copies, then re-applies the line settings
  TComFlowControl& FlowControl() { return *flowControl_; }
  const TComFlowControl& FlowControl() const { return *flowControl_; }
  void SetFlowControl(const TComFlowControl& value);
  TComTimeouts& Timeouts() { return *timeouts_; }
  const TComTimeouts& Timeouts() const { return *timeouts_; }
  void SetTimeouts(const TComTimeouts& value);
  TComBuffer& Buffer() { return *buffer_; }
  const TComBuffer& Buffer() const { return *buffer_; }
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
  friend class TComTimeouts;
  friend class TComFlowControl;
  friend class TComParity;
  friend class TComBuffer;
  friend class TComThread;

  bool CanApply() const;
  void CallAfterOpen();
  void CallBeforeClose();

  std::string name_ = "ComPort";
  std::string port_ = "COM1";
  TBaudRate baudRate_ = br9600;
  std::int32_t customBaudRate_ = 9600;
  TStopBits stopBits_ = sbOneStopBit;
  TDataBits dataBits_ = dbEight;
  bool discardNull_ = false;
  std::uint8_t eventChar_ = 0;
  TComEvents events_ = kAllComEvents;
  TSyncMethod syncMethod_ = smThreadSync;
  std::unique_ptr<TComParity> parity_;
  std::unique_ptr<TComFlowControl> flowControl_;
  std::unique_ptr<TComTimeouts> timeouts_;
  std::unique_ptr<TComBuffer> buffer_;

  std::unique_ptr<platform::SerialDevice> device_;
  bool connected_ = false;
  int updateCount_ = 0;
  bool loading_ = false;
  bool connectWhenLoaded_ = false;
  std::unique_ptr<TComThread> eventThread_;
  bool threadCreated_ = false;
  std::unique_ptr<TComNotifyTarget> notifyTarget_;
  THandover* handover_ = nullptr;
  std::vector<TComPortObserver*> observers_;
};

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
