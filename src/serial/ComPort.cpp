// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/ComPort.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <mutex>
#include <string_view>
#include <utility>

#include "platform/catalog.h"
#include "platform/serial_device.h"
#include "platform/serial_ports.h"
#include "platform/system_text.h"
#include "serial/ComThread.h"
#include "serial/Handover.h"

namespace tavex {

// ---------------------------------------------------------------------------------------------
// Errors

namespace {

constexpr const char* kErrorTexts[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};
constexpr int kErrorCount = static_cast<int>(std::size(kErrorTexts));
static_assert(kErrorCount == peRegistry, "one text for every TPortError, in its order");
constexpr const char* kSystemCodeSuffix = " (win error code: %d)";

// The texts as the user reads them: each passed once through the catalogue of the text domain
// "default"; without a catalogue the English texts stand.
struct ErrorTable {
  std::string texts[kErrorCount];
  std::string suffix;
  ErrorTable() {
    for (int i = 0; i < kErrorCount; ++i) {
      texts[i] = platform::Translate("default", kErrorTexts[i]);
    }
    suffix = platform::Translate("default", kSystemCodeSuffix);
  }
};

const ErrorTable& Errors() {
  static const ErrorTable table;
  return table;
}

// The suffix comes from a catalogue: only its first "%d" is replaced, never handed to printf.
std::string FormatSuffix(const std::string& suffix, int systemCode) {
  std::string out = suffix;
  auto at = out.find("%d");
  if (at != std::string::npos) out.replace(at, 2, std::to_string(systemCode));
  return out;
}

// The one place where a failed device call becomes the port's error.
[[noreturn]] void RaiseDeviceError(TPortError errorCode, platform::Errno error) {
  throw EComPort(errorCode, error);
}

// Device calls on a closed port fail as the system fails a call on an invalid handle.
platform::SerialDevice& DeviceOrRaise(platform::SerialDevice* device, TPortError errorCode) {
  if (device == nullptr) RaiseDeviceError(errorCode, platform::kErrnoBadDescriptor);
  return *device;
}

std::mutex& ReporterMutex() {
  static std::mutex m;
  return m;
}
ExceptionReporter& Reporter() {
  static ExceptionReporter reporter;
  return reporter;
}

std::mutex& SetupDialogMutex() {
  static std::mutex m;
  return m;
}
TCustomComPort::SetupDialogRunner& SetupDialog() {
  static TCustomComPort::SetupDialogRunner runner;
  return runner;
}

}  // namespace

const std::string& ComErrorText(int errorCode) {
  static const std::string empty;
  if (errorCode < 1 || errorCode > kErrorCount) return empty;
  return Errors().texts[errorCode - 1];
}

EComPort::EComPort(TPortError errorCode)
    : std::runtime_error(ComErrorText(errorCode)), errorCode_(errorCode), systemCode_(-1) {}

EComPort::EComPort(TPortError errorCode, platform::Errno systemCode)
    : EComPort(errorCode, platform::Value(systemCode), systemCode) {}

EComPort::EComPort(TPortError errorCode, platform::RegResult systemCode)
    : EComPort(errorCode, platform::Value(systemCode), systemCode) {}

EComPort::EComPort(TPortError errorCode, int systemCode, Cause cause)
    : std::runtime_error(ComErrorText(errorCode) + FormatSuffix(Errors().suffix, systemCode)),
      errorCode_(errorCode),
      systemCode_(systemCode),
      cause_(cause) {}

EComPort& EComPort::CausedBy(platform::Errno code) {
  cause_ = code;
  return *this;
}

EComPort& EComPort::CausedBy(platform::RegResult code) {
  cause_ = code;
  return *this;
}

EComPort& EComPort::Concerning(std::string file) {
  file_ = std::move(file);
  return *this;
}

std::string EComPort::Explanation() const {
  // The formats come from a catalogue: only their first "%s" is replaced.
  const auto filled = [](const char* format, const std::string& value) {
    std::string text = platform::Translate("default", format);
    const auto at = text.find("%s");
    if (at == std::string::npos) return text + " " + value;
    return text.replace(at, 2, value);
  };
  std::string lines;
  if (const auto* error = std::get_if<platform::Errno>(&cause_)) {
    lines += filled(kSystemReportsText, platform::DescribeErrno(*error));
  } else if (const auto* result = std::get_if<platform::RegResult>(&cause_)) {
    lines += filled(kSystemReportsText, platform::DescribeRegResult(*result));
  }
  if (!file_.empty()) {
    if (!lines.empty()) lines += '\n';
    lines += filled(kFileText, file_);
  }
  return lines;
}

std::string MessageWithCauses(const std::exception& error) {
  std::string text = error.what();
  try {
    std::rethrow_if_nested(error);
  } catch (const std::exception& cause) {
    text += ": " + MessageWithCauses(cause);
  } catch (...) {
    text += ": (an unknown error)";
  }
  return text;
}

void SetDefaultExceptionReporter(ExceptionReporter reporter) {
  std::lock_guard lock(ReporterMutex());
  Reporter() = std::move(reporter);
}

void ReportException(const std::exception& error) {
  ExceptionReporter reporter;
  {
    std::lock_guard lock(ReporterMutex());
    reporter = Reporter();
  }
  if (reporter) {
    reporter(error);
  } else {
    std::cerr << error.what() << std::endl;
  }
}

// ---------------------------------------------------------------------------------------------
// Settings objects

TFlowControl TComFlowControl::FlowControl() const {
  const V& v = values_;
  if (v.controlRTS == rtsHandshake && v.outCTSFlow && !v.xonXoffIn && !v.xonXoffOut) {
    return fcHardware;
  }
  if (v.controlRTS == rtsDisable && !v.outCTSFlow && v.xonXoffIn && v.xonXoffOut) return fcSoftware;
  if (v.controlRTS == rtsDisable && !v.outCTSFlow && !v.xonXoffIn && !v.xonXoffOut) return fcNone;
  return fcCustom;
}

void TComFlowControl::SetFlowControl(TFlowControl value) {
  V v = values_;
  if (value != fcCustom) {
    v.controlRTS = value == fcHardware ? rtsHandshake : rtsDisable;
    v.outCTSFlow = value == fcHardware;
    v.xonXoffIn = value == fcSoftware;
    v.xonXoffOut = value == fcSoftware;
  }
  ChangeAll(v);
}

namespace {
// Queue sizes are kept even: an odd value loses its last byte.
std::int32_t EvenSize(std::int32_t value) {
  return value % 2 == 1 ? value - 1 : value;
}
}  // namespace

void TComBuffer::SetInputSize(std::int32_t value) {
  Change(&ComBufferValues::inputSize, EvenSize(value));
}
void TComBuffer::SetOutputSize(std::int32_t value) {
  Change(&ComBufferValues::outputSize, EvenSize(value));
}

// ---------------------------------------------------------------------------------------------
// The port: construction, settings

TCustomComPort::TCustomComPort() = default;

TCustomComPort::~TCustomComPort() {
  // Observers forget the port while it is still whole.
  auto observers = std::move(observers_);
  for (TComPortObserver* observer : observers) observer->ComPortDestroyed(*this);
  try {
    Close();
  } catch (const std::exception& error) {
    // A destructor must not throw: report it. The members then go in the order that stops a
    // thread still running before the device closes.
    ReportException(error);
  }
}

THandover& TCustomComPort::Handover() const {
  return handover_ != nullptr ? *handover_ : THandover::Main();
}

void TCustomComPort::SetPort(const std::string& value) {
  if (value == Port()) return;
  // The device is opened by its name: a new name on an open port means another device.
  const bool reopen = connected_;
  if (reopen) Close();
  line_.values_.port = value;
  if (reopen) Open();
}

void TCustomComPort::SetEvents(TComEvents value) {
  events_ = value;
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (value == syncMethod_) return;
  if (connected_) throw EComPort(peSetWhileConnected);
  syncMethod_ = value;
}

void TCustomComPort::SetParity(const TComParity& value) {
  parity_.ChangeAll(value.values_);
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
  flowControl_.ChangeAll(value.values_);
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
  timeouts_.ChangeAll(value.values_);
}

void TCustomComPort::SetBuffer(const TComBuffer& value) {
  buffer_.ChangeAll(value.values_);
}

// ---------------------------------------------------------------------------------------------
// Connection

void TCustomComPort::SetConnected(bool value) {
  if (loading_) {
    connectWhenLoaded_ = value;
    return;
  }
  if (value == connected_) return;
  if (value) {
    Open();
  } else {
    Close();
  }
}

void TCustomComPort::BeginLoading() {
  loading_ = true;
}

void TCustomComPort::Loaded() {
  loading_ = false;
  if (!connectWhenLoaded_) return;
  connectWhenLoaded_ = false;
  try {
    Open();
  } catch (const std::exception& error) {
    ReportException(error);
  }
}

void TCustomComPort::BeginUpdate() {
  ++updateCount_;
}

void TCustomComPort::EndUpdate() {
  if (updateCount_ <= 0) return;
  if (--updateCount_ == 0) ApplySettings();
}

bool TCustomComPort::CanApply() const {
  return connected_ && updateCount_ == 0 && !loading_;
}

void TCustomComPort::Open() {
  if (connected_) return;
  DoBeforeOpen();
  OpenDevice();
  connected_ = true;
  try {
    ApplySettings();
  } catch (...) {
    CloseDevice();
    connected_ = false;
    throw;
  }
  if (!events_.Empty()) {
    try {
      if (syncMethod_ == smWindowSync) {
        notifyTarget_ = std::make_unique<TComNotifyTarget>(*this, Handover());
      }
      eventThread_ =
          std::make_unique<TComThread>(*this, *device_, events_, syncMethod_, notifyTarget_.get());
    } catch (...) {
      // Without its event thread the port would look open but never notify: undo the open.
      notifyTarget_.reset();
      CloseDevice();
      connected_ = false;
      throw;
    }
  }
  CallAfterOpen();
}

void TCustomComPort::Close() {
  if (!connected_) return;
  CallBeforeClose();
  const platform::Errno error = DeviceOrRaise(device_.get(), pePurgeFailed)
                                    .Purge(platform::kPurgeTxAbort | platform::kPurgeRxAbort);
  if (error != platform::kNoError) RaiseDeviceError(pePurgeFailed, error);
  if (eventThread_) {
    eventThread_->Stop();
    eventThread_.reset();
    notifyTarget_.reset();
  }
  CloseDevice();
  connected_ = false;
  DoAfterClose();
}

void TCustomComPort::OpenDevice() {
  platform::Errno error = platform::kNoError;
  auto device = platform::SerialDevice::Open(platform::DevicePath(Port()), error);
  if (!device)
    RaiseDeviceError(peOpenFailed, error != platform::kNoError ? error : platform::kErrnoIo);
  device_ = std::move(device);
}

void TCustomComPort::CloseDevice() {
  device_.reset();
}

void TCustomComPort::ApplySettings() {
  ApplyBufferSizes();
  ApplyLineSettings();
  ApplyTimeouts();
}

namespace {

std::uint32_t RateOf(TBaudRate rate, std::int32_t custom) {
  if (rate == brCustom || rate >= std::size(kBaudRates)) {
    return static_cast<std::uint32_t>(custom);
  }
  return kBaudRates[rate];
}

// The flow-control thresholds are 16-bit in the device block: a quarter of the input size,
// held within that range rather than wrapped.
std::uint16_t QuarterOf(std::int32_t inputSize) {
  return static_cast<std::uint16_t>(std::clamp(inputSize / 4, 0, 0xFFFF));
}

}  // namespace

platform::LineSettings TCustomComPort::BuildLineSettings() const {
  const ComLineValues& line = line_.values_;
  const ComParityValues& parity = parity_.values_;
  const ComFlowControlValues& flow = flowControl_.values_;
  platform::LineSettings s;
  s.baudRate = RateOf(line.baudRate, line.customBaudRate);
  s.discardNull = line.discardNull;
  s.outxCtsFlow = flow.outCTSFlow;
  s.outxDsrFlow = flow.outDSRFlow;
  s.dtrControl = static_cast<std::uint8_t>(flow.controlDTR);
  s.rtsControl = static_cast<std::uint8_t>(flow.controlRTS);
  s.outX = flow.xonXoffOut;
  s.inX = flow.xonXoffIn;
  s.dsrSensitivity = flow.dsrSensitivity;
  s.txContinueOnXoff = flow.txContinueOnXoff;
  s.parityCheck = parity.check;
  s.errorCharEnabled = parity.check && parity.replace;
  s.errorChar = s.errorCharEnabled ? parity.replaceChar : 0;
  s.xonLim = QuarterOf(buffer_.values_.inputSize);
  s.xoffLim = s.xonLim;
  s.byteSize = static_cast<std::uint8_t>(5 + line.dataBits);
  s.parity = static_cast<std::uint8_t>(parity.bits);
  s.stopBits = static_cast<std::uint8_t>(line.stopBits);
  s.xonChar = flow.xonChar;
  s.xoffChar = flow.xoffChar;
  s.evtChar = line.eventChar;
  return s;
}

platform::Timeouts TCustomComPort::BuildTimeouts() const {
  // Bit for bit: -1 reaches the device as all bits set.
  const ComTimeoutsValues& v = timeouts_.values_;
  platform::Timeouts t;
  t.readInterval = static_cast<std::uint32_t>(v.readInterval);
  t.readTotalMultiplier = static_cast<std::uint32_t>(v.readTotalMultiplier);
  t.readTotalConstant = static_cast<std::uint32_t>(v.readTotalConstant);
  t.writeTotalMultiplier = static_cast<std::uint32_t>(v.writeTotalMultiplier);
  t.writeTotalConstant = static_cast<std::uint32_t>(v.writeTotalConstant);
  return t;
}

void TCustomComPort::ApplyBufferSizes() {
  if (!CanApply()) return;
  auto& device = DeviceOrRaise(device_.get(), peSetupCommFailed);
  const ComBufferValues& v = buffer_.values_;
  // A negative size would reach the device as a queue of gigabytes.
  if (v.inputSize < 0 || v.outputSize < 0) {
    RaiseDeviceError(peSetupCommFailed, platform::kErrnoInvalidArgument);
  }
  const platform::Errno error = device.SetupQueues(static_cast<std::uint32_t>(v.inputSize),
                                                   static_cast<std::uint32_t>(v.outputSize));
  if (error != platform::kNoError) RaiseDeviceError(peSetupCommFailed, error);
}

void TCustomComPort::ApplyLineSettings() {
  if (!CanApply()) return;
  const platform::Errno error =
      DeviceOrRaise(device_.get(), peSetStateFailed).SetLineSettings(BuildLineSettings());
  if (error != platform::kNoError) RaiseDeviceError(peSetStateFailed, error);
}

void TCustomComPort::ApplyTimeouts() {
  if (!CanApply()) return;
  const platform::Errno error =
      DeviceOrRaise(device_.get(), peSetTimeoutsFailed).SetTimeouts(BuildTimeouts());
  if (error != platform::kNoError) RaiseDeviceError(peSetTimeoutsFailed, error);
}

void TCustomComPort::CallAfterOpen() {
  DoAfterOpen();
  DoCTSChange(LineSignals().Contains(lsCTS));
  DoDSRChange(LineSignals().Contains(lsDSR));
  DoRLSDChange(LineSignals().Contains(lsRLSD));
}

void TCustomComPort::CallBeforeClose() {
  DoCTSChange(false);
  DoDSRChange(false);
  DoRLSDChange(false);
  DoBeforeClose();
}

// ---------------------------------------------------------------------------------------------
// Transfers: the device finishes each one inside the call, under the port's time-outs.

void TCustomComPort::ClearBuffer(bool Input, bool Output) {
  std::uint32_t flags = 0;
  if (Input) flags |= platform::kPurgeRxClear;
  if (Output) flags |= platform::kPurgeTxClear;
  const platform::Errno error = DeviceOrRaise(device_.get(), pePurgeFailed).Purge(flags);
  if (error != platform::kNoError) RaiseDeviceError(pePurgeFailed, error);
}

std::int32_t TCustomComPort::WriteStr(const std::string& Str) {
  if (Str.empty()) return 0;  // nothing reaches the device, not even a closed one
  std::size_t written = 0;
  const platform::Errno error =
      DeviceOrRaise(device_.get(), peWriteFailed).Write(Str.data(), Str.size(), written);
  if (error != platform::kNoError) RaiseDeviceError(peWriteFailed, error);
  return static_cast<std::int32_t>(written);
}

std::int32_t TCustomComPort::ReadStr(std::string& Str, std::int32_t Count) {
  if (Count <= 0) {
    Str.clear();
    return 0;
  }
  Str.assign(static_cast<std::size_t>(Count), '\0');
  std::size_t got = 0;
  const platform::Errno error =
      DeviceOrRaise(device_.get(), peReadFailed).Read(Str.data(), Str.size(), got);
  if (error != platform::kNoError) RaiseDeviceError(peReadFailed, error);
  InputCount();  // also clears the device's error flags, as after every read
  Str.resize(got);
  return static_cast<std::int32_t>(got);
}

std::int32_t TCustomComPort::InputCount() {
  platform::CommStatus status;
  const platform::Errno error = DeviceOrRaise(device_.get(), peClearErrorFailed).ClearError(status);
  if (error != platform::kNoError) RaiseDeviceError(peClearErrorFailed, error);
  return static_cast<std::int32_t>(std::min<std::uint32_t>(status.inQueue, INT32_MAX));
}

TLineSignals TCustomComPort::LineSignals() {
  std::uint32_t status = 0;
  const platform::Errno error =
      DeviceOrRaise(device_.get(), peModemStatusFailed).ModemStatus(status);
  if (error != platform::kNoError) RaiseDeviceError(peModemStatusFailed, error);
  TLineSignals signals;
  if (status & platform::kMsCtsOn) signals.Include(lsCTS);
  if (status & platform::kMsDsrOn) signals.Include(lsDSR);
  if (status & platform::kMsRingOn) signals.Include(lsRing);
  if (status & platform::kMsRlsdOn) signals.Include(lsRLSD);
  return signals;
}

TComErrors TCustomComPort::LineErrors() {
  platform::CommStatus status;
  const platform::Errno error = DeviceOrRaise(device_.get(), peClearErrorFailed).ClearError(status);
  if (error != platform::kNoError) RaiseDeviceError(peClearErrorFailed, error);
  TComErrors errors;
  const std::uint32_t flags = status.errors;
  if (flags & platform::kCeFrame) errors.Include(ceFrame);
  if ((flags & platform::kCeRxParity) && parity_.values_.check) errors.Include(ceRxParity);
  if (flags & platform::kCeOverrun) errors.Include(ceOverrun);
  if (flags & platform::kCeBreak) errors.Include(ceBreak);
  if (flags & platform::kCeIoe) errors.Include(ceIO);
  if (flags & platform::kCeMode) errors.Include(ceMode);
  if (flags & platform::kCeRxOver) errors.Include(ceRxOver);
  if (flags & platform::kCeTxFull) errors.Include(ceTxFull);
  return errors;
}

// ---------------------------------------------------------------------------------------------
// Notifications

void TCustomComPort::DispatchEvents(TComEvents events) {
  for (TComEvent event : kDispatchOrder) {
    if (events.Contains(event)) DispatchEvent(event);
  }
}

void TCustomComPort::DispatchEvent(TComEvent event) {
  switch (event) {
    case evError: {
      TComErrors errors = LineErrors();
      if (!errors.Empty()) DoError(errors);
      break;
    }
    case evRxChar: {
      std::int32_t count = InputCount();
      if (count > 0) DoRxChar(count);
      break;
    }
    case evTxEmpty:
      DoTxEmpty();
      break;
    case evBreak:
      DoBreak();
      break;
    case evRing:
      DoRing();
      break;
    case evCTS:
      DoCTSChange(LineSignals().Contains(lsCTS));
      break;
    case evDSR:
      DoDSRChange(LineSignals().Contains(lsDSR));
      break;
    case evRxFlag:
      DoRxFlag();
      break;
    case evRLSD:
      DoRLSDChange(LineSignals().Contains(lsRLSD));
      break;
    case evRx80Full:
      DoRx80Full();
      break;
  }
}

void TCustomComPort::DoAfterClose() {
  if (OnAfterClose) OnAfterClose(*this);
}
void TCustomComPort::DoAfterOpen() {
  if (OnAfterOpen) OnAfterOpen(*this);
}
void TCustomComPort::DoBeforeClose() {
  if (OnBeforeClose) OnBeforeClose(*this);
}
void TCustomComPort::DoBeforeOpen() {
  if (OnBeforeOpen) OnBeforeOpen(*this);
}
void TCustomComPort::DoRxChar(std::int32_t Count) {
  if (OnRxChar) OnRxChar(*this, Count);
}
void TCustomComPort::DoRxBuf(const std::uint8_t* Buffer, std::int32_t Count) {
  if (OnRxBuf) OnRxBuf(*this, Buffer, Count);
}
void TCustomComPort::DoTxEmpty() {
  if (OnTxEmpty) OnTxEmpty(*this);
}
void TCustomComPort::DoBreak() {
  if (OnBreak) OnBreak(*this);
}
void TCustomComPort::DoRing() {
  if (OnRing) OnRing(*this);
}
void TCustomComPort::DoRxFlag() {
  if (OnRxFlag) OnRxFlag(*this);
}
void TCustomComPort::DoCTSChange(bool OnOff) {
  if (OnCTSChange) OnCTSChange(*this, OnOff);
}
void TCustomComPort::DoDSRChange(bool OnOff) {
  if (OnDSRChange) OnDSRChange(*this, OnOff);
}
void TCustomComPort::DoError(TComErrors Errors) {
  if (OnError) OnError(*this, Errors);
}
void TCustomComPort::DoRLSDChange(bool OnOff) {
  if (OnRLSDChange) OnRLSDChange(*this, OnOff);
}
void TCustomComPort::DoRx80Full() {
  if (OnRx80Full) OnRx80Full(*this);
}

// ---------------------------------------------------------------------------------------------
// Setup dialog and destruction notices

void TCustomComPort::RegisterSetupDialog(SetupDialogRunner runner) {
  std::lock_guard lock(SetupDialogMutex());
  SetupDialog() = std::move(runner);
}

void TCustomComPort::ShowSetupDialog() {
  SetupDialogRunner runner;
  {
    std::lock_guard lock(SetupDialogMutex());
    runner = SetupDialog();
  }
  if (!runner) {
    throw std::logic_error(
        "No port setup dialog is registered (the dialog library registers it at start)");
  }
  runner(*this);
}

void TCustomComPort::FreeNotification(TComPortObserver* observer) {
  if (observer == nullptr) return;
  if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) {
    observers_.push_back(observer);
  }
}

void TCustomComPort::RemoveFreeNotification(TComPortObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

}  // namespace tavex
