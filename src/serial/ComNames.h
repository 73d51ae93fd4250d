// SPDX-License-Identifier: GPL-3.0-or-later
// Text names of the port's setting values, in both directions, and the list of installed ports.
// The texts are constants, the same in every language of the user interface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "serial/ComPort.h"

namespace tavex {

std::string BaudRateToText(TBaudRate value);
std::string StopBitsToText(TStopBits value);
std::string DataBitsToText(TDataBits value);
std::string ParityToText(TParityBits value);
std::string FlowControlToText(TFlowControl value);
std::string DTRControlToText(TDTRFlowControl value);
std::string RTSControlToText(TRTSFlowControl value);
std::string BoolToText(bool value);
std::string CharToText(std::uint8_t value);

TBaudRate TextToBaudRate(const std::string& text);
TStopBits TextToStopBits(const std::string& text);
TDataBits TextToDataBits(const std::string& text);
TParityBits TextToParity(const std::string& text);
TFlowControl TextToFlowControl(const std::string& text);
TDTRFlowControl TextToDTRControl(const std::string& text);
TRTSFlowControl TextToRTSControl(const std::string& text);
bool TextToBool(const std::string& text);
std::uint8_t TextToChar(const std::string& text);

// The integer form of stored settings: optional leading blanks and sign, then decimal digits, or
// hexadecimal digits after "$", "0x", "0X", "x" or "X", and nothing after the digits. False when
// the text does not have that form or the number does not fit a 32-bit signed integer.
bool TextToInt32(const std::string& text, std::int32_t& value);

// Replaces `target` with the installed serial ports, sorted case-insensitively as text,
// duplicates kept: the kernel's serial devices by their names ("ttyUSB0"), the stable names udev
// made for them as absolute paths ("/dev/serial/by-id/usb-FTDI_...-if00-port0"; a by-path name
// only for a device without a by-id name), and the registered ports. Raises EComPort peRegistry
// with the errno value or registry result when the sources cannot be read, leaving `target`
// unchanged.
void ListComPorts(std::vector<std::string>& target);
// The same over another device tree than the system's: `deviceRoot` holds sys/class/tty and
// dev/serial (tests build a fake tree in a temporary folder).
void ListComPortsUnder(const std::string& deviceRoot, std::vector<std::string>& target);
// The kernel's devices of another tty class directory than /sys/class/tty, without stable names,
// and the registered ports.
void ListComPortsFrom(const std::string& sysfsTtyDirectory, std::vector<std::string>& target);

// How the port list shows a port name: a stable name with the device it stands for today
// ("/dev/serial/by-id/usb-FTDI_...-if00-port0 (ttyUSB0)"), every other name as it is.
std::string PortListText(const std::string& port);

}  // namespace tavex
