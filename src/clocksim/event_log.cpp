// SPDX-License-Identifier: GPL-3.0-or-later
#include "clocksim/event_log.h"

#include <cerrno>
#include <chrono>

namespace tavex::clocksim {
namespace {

long long Nanoseconds(SteadyTime at) {
  return static_cast<long long>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count());
}

const char* KindName(FrameKind kind) {
  switch (kind) {
    case FrameKind::ReadRequest:
      return "read";
    case FrameKind::Time:
      return "time";
    case FrameKind::Config:
      return "config";
    case FrameKind::Broken:
      break;
  }
  return "broken";
}

}  // namespace

std::string HexText(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    hex.push_back(kHex[b >> 4]);
    hex.push_back(kHex[b & 0x0F]);
  }
  return hex;
}

std::string JsonString(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (b < 0x20 || b >= 0x7F) {
      // Bytes, not text: every byte outside printable ASCII becomes \u00XX.
      out += "\\u00";
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 0x0F]);
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

EventLog::~EventLog() {
  if (file_ != nullptr) std::fclose(file_);
}

int EventLog::Open(const std::string& path) {
  if (file_ != nullptr) std::fclose(file_);
  file_ = std::fopen(path.c_str(), "we");
  return file_ != nullptr ? 0 : errno;
}

void EventLog::WriteLine(const std::string& line) {
  if (file_ == nullptr) return;
  std::fputs(line.c_str(), file_);
  std::fputc('\n', file_);
  // Flushed per line: readers follow the log while the simulator runs.
  std::fflush(file_);
}

void EventLog::Byte(SteadyTime at, bool received, std::uint8_t byte) {
  WriteLine("{\"t\":" + std::to_string(Nanoseconds(at)) + ",\"dir\":\"" + (received ? "rx" : "tx") +
            "\",\"byte\":" + std::to_string(byte) + "}");
}

void EventLog::Frame(SteadyTime at, const ReceivedFrame& frame) {
  std::string line = "{\"t\":" + std::to_string(Nanoseconds(at)) + ",\"frame\":\"" +
                     HexText(frame.bytes) + "\",\"kind\":\"" + KindName(frame.kind) +
                     "\",\"clock\":" + std::to_string(frame.clock) +
                     ",\"ok\":" + (frame.Ok() ? "true" : "false");
  if (!frame.Ok()) line += ",\"problem\":" + JsonString(frame.problem);
  WriteLine(line + "}");
}

void EventLog::Reply(SteadyTime at, int clock, const std::string& bytes,
                     const std::string& faults) {
  std::string line = "{\"t\":" + std::to_string(Nanoseconds(at)) + ",\"reply\":\"" +
                     HexText(bytes) + "\",\"text\":" + JsonString(bytes) +
                     ",\"clock\":" + std::to_string(clock);
  if (!faults.empty()) line += ",\"faults\":" + JsonString(faults);
  WriteLine(line + "}");
}

void EventLog::Event(SteadyTime at, const std::string& name, const std::string& detail) {
  WriteLine("{\"t\":" + std::to_string(Nanoseconds(at)) + ",\"event\":" + JsonString(name) +
            ",\"detail\":" + JsonString(detail) + "}");
}

}  // namespace tavex::clocksim
