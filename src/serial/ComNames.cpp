// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/ComNames.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>
#include <variant>

#include "platform/name_case.h"
#include "platform/registry.h"
#include "platform/serial_ports.h"

namespace tavex {
namespace {

constexpr std::array<const char*, 3> kStopBitsTexts = {"1", "1.5", "2"};
constexpr std::array<const char*, 4> kDataBitsTexts = {"5", "6", "7", "8"};
constexpr std::array<const char*, 5> kParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<const char*, 4> kFlowControlTexts = {"Hardware", "Software", "None", "Custom"};
constexpr std::array<const char*, 3> kDTRControlTexts = {"Disable", "Enable", "Handshake"};
constexpr std::array<const char*, 4> kRTSControlTexts = {"Disable", "Enable", "Handshake",
                                                         "Toggle"};

template <typename Enum, std::size_t N>
std::string ToText(const std::array<const char*, N>& table, Enum value) {
  auto index = static_cast<std::size_t>(value);
  return index < N ? table[index] : std::string();
}

// Whole-string comparison ignoring letter case; no trimming, so " 9600" matches nothing.
template <typename Enum, std::size_t N>
Enum FromText(const std::array<const char*, N>& table, const std::string& text, Enum fallback) {
  for (std::size_t i = 0; i < N; ++i) {
    if (platform::EqualsNoCase(text, table[i])) return static_cast<Enum>(i);
  }
  return fallback;
}

int DigitValue(char c, int base) {
  int d = -1;
  if (c >= '0' && c <= '9') d = c - '0';
  if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
  return d < base ? d : -1;
}

// Ports that virtual-port software registers in the hive; only those whose device is there.
platform::RegStatus ScanRegisteredPorts(bool& present, std::vector<std::string>& names) {
  platform::RegistryKey key;
  platform::RegStatus rc = platform::RegistryKey::Open(platform::RegRoot::LocalMachine,
                                                       "HARDWARE\\DEVICEMAP\\SERIALCOMM", key);
  present = rc.Ok();
  if (rc == platform::RegResult::kFileNotFound) return platform::RegResult::kSuccess;
  if (!rc.Ok()) return rc;
  for (std::uint32_t index = 0;; ++index) {
    std::string name;
    std::string data;
    platform::RegType type{};
    // A name or data longer than the buffers: ask again with the sizes the value needs.
    platform::RegistryKey::ValueSizes size{256, 256};
    for (int attempt = 0; attempt < 4; ++attempt) {
      const platform::RegistryKey::ValueSizes fit = size;
      rc = key.EnumValue(index, name, fit.name, type, data, fit.data, &size);
      if (rc != platform::RegResult::kMoreData) break;
      size = {std::max(size.name, fit.name), std::max(size.data, fit.data)};
    }
    if (rc == platform::RegResult::kNoMoreItems) return platform::RegResult::kSuccess;
    if (!rc.Ok()) return rc;
    std::string port = data.substr(0, data.find('\0'));
    std::error_code ec;
    if (!port.empty() && std::filesystem::exists(platform::DevicePath(port), ec))
      names.push_back(port);
  }
}

}  // namespace

std::string BaudRateToText(TBaudRate value) {
  // The rate in decimal; brCustom as "Custom".
  if (value == brCustom) return "Custom";
  const auto index = static_cast<std::size_t>(value);
  return index < std::size(kBaudRates) ? std::to_string(kBaudRates[index]) : std::string();
}
std::string StopBitsToText(TStopBits value) {
  return ToText(kStopBitsTexts, value);
}
std::string DataBitsToText(TDataBits value) {
  return ToText(kDataBitsTexts, value);
}
std::string ParityToText(TParityBits value) {
  return ToText(kParityTexts, value);
}
std::string FlowControlToText(TFlowControl value) {
  return ToText(kFlowControlTexts, value);
}
std::string DTRControlToText(TDTRFlowControl value) {
  return ToText(kDTRControlTexts, value);
}
std::string RTSControlToText(TRTSFlowControl value) {
  return ToText(kRTSControlTexts, value);
}
std::string BoolToText(bool value) {
  return value ? "Yes" : "No";
}

std::string CharToText(std::uint8_t value) {
  if (value >= 33 && value <= 127) return std::string(1, static_cast<char>(value));
  return "#" + std::to_string(value);
}

TBaudRate TextToBaudRate(const std::string& text) {
  for (std::size_t i = 0; i < std::size(kBaudRates); ++i) {
    const auto rate = static_cast<TBaudRate>(i);
    if (platform::EqualsNoCase(text, BaudRateToText(rate))) return rate;
  }
  return br9600;
}
TStopBits TextToStopBits(const std::string& text) {
  return FromText(kStopBitsTexts, text, sbOneStopBit);
}
TDataBits TextToDataBits(const std::string& text) {
  return FromText(kDataBitsTexts, text, dbEight);
}
TParityBits TextToParity(const std::string& text) {
  return FromText(kParityTexts, text, prNone);
}
TFlowControl TextToFlowControl(const std::string& text) {
  return FromText(kFlowControlTexts, text, fcCustom);
}
TDTRFlowControl TextToDTRControl(const std::string& text) {
  return FromText(kDTRControlTexts, text, dtrDisable);
}
TRTSFlowControl TextToRTSControl(const std::string& text) {
  return FromText(kRTSControlTexts, text, rtsDisable);
}
bool TextToBool(const std::string& text) {
  return platform::EqualsNoCase(text, "YES");
}

bool TextToInt32(const std::string& text, std::int32_t& value) {
  std::string_view s = text;
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.starts_with("0x") || s.starts_with("0X")) {
    base = 16;
    s.remove_prefix(2);
  } else if (!s.empty() && (s.front() == '$' || s.front() == 'x' || s.front() == 'X')) {
    base = 16;
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
  std::int64_t magnitude = 0;
  for (char c : s) {
    int d = DigitValue(c, base);
    if (d < 0) return false;
    magnitude = magnitude * base + d;
    if (magnitude > limit) return false;
  }
  value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return true;
}

std::uint8_t TextToChar(const std::string& text) {
  if (text.empty()) return 0;
  if (text.front() == '#' && text.size() >= 2) {
    std::int32_t number = 0;
    if (!TextToInt32(text.substr(1), number)) return 0;
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(number) & 0xFF);
  }
  return static_cast<std::uint8_t>(text.front());
}

// The list fails when a source that is there cannot be read (the tty class directory or the hive
// answer an errno, a registered entry does not fit the enumeration buffers), and when neither
// source is there at all (no tty class directory and no registered-ports key: ENOENT). A machine
// with sysfs but no registered ports lists its kernel devices; either source may name no port.
namespace {

// `serialLinksDirectory` empty: no stable names.
void ListPorts(const std::string& sysfsTtyDirectory, const std::string& serialLinksDirectory,
               std::vector<std::string>& target) {
  std::vector<std::string> names;
  bool kernelPresent = false;
  bool registeredPresent = false;
  const platform::Errno scanned =
      platform::ScanSerialDevices(sysfsTtyDirectory, kernelPresent, names);
  if (scanned != platform::kNoError) {
    throw EComPort(peRegistry, scanned).Concerning(sysfsTtyDirectory);
  }
  if (!serialLinksDirectory.empty()) {
    std::vector<platform::StableSerialName> stable;
    const platform::Errno linked = platform::ScanStableSerialNames(serialLinksDirectory, stable);
    if (linked != platform::kNoError) {
      throw EComPort(peRegistry, linked).Concerning(serialLinksDirectory);
    }
    for (platform::StableSerialName& name : stable) names.push_back(std::move(name.path));
  }
  const platform::RegStatus listed = ScanRegisteredPorts(registeredPresent, names);
  if (!listed.Ok()) {
    const std::string hive = platform::HivePath(platform::RegRoot::LocalMachine);
    std::visit([&hive](auto code) { throw EComPort(peRegistry, code).Concerning(hive); },
               listed.Get());
  }
  if (!kernelPresent && !registeredPresent) {
    throw EComPort(peRegistry, platform::kErrnoNotFound).Concerning(sysfsTtyDirectory);
  }
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return platform::LessNoCase(a, b);
  });
  target = std::move(names);
}

}  // namespace

void ListComPortsFrom(const std::string& sysfsTtyDirectory, std::vector<std::string>& target) {
  ListPorts(sysfsTtyDirectory, {}, target);
}

void ListComPortsUnder(const std::string& deviceRoot, std::vector<std::string>& target) {
  ListPorts(platform::TtyClassDirectory(deviceRoot), platform::SerialLinksDirectory(deviceRoot),
            target);
}

void ListComPorts(std::vector<std::string>& target) {
  ListComPortsUnder({}, target);
}

std::string PortListText(const std::string& port) {
  const std::string device = platform::StableNameDevice(port);
  return device.empty() ? port : port + " (" + device + ")";
}

}  // namespace tavex
