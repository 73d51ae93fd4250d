// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/serial_receive_queue.h"

#include <algorithm>

#include "platform/serial_device.h"

namespace tavex::platform {

ReceiveQueue::ReceiveQueue(std::size_t capacity) : data_(capacity) {}

void ReceiveQueue::SetOptions(const Options& options) {
  if (options.parityMarked != options_.parityMarked) mark_ = Mark::kNone;
  options_ = options;
}

std::uint32_t ReceiveQueue::Ingest(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t events = 0;
  bool queued = false;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t c = bytes[i];
    if (!options_.parityMarked) {
      Accept(c, 0, events, queued);
      continue;
    }
    // With PARMRK the kernel sends 0xFF 0xFF for a data byte 0xFF, 0xFF 0x00 b for a byte b
    // received with a parity or framing error, and 0xFF 0x00 0x00 for a break. A marking may be
    // split across two reads, hence the state kept between calls.
    switch (mark_) {
      case Mark::kNone:
        if (c == 0xFF) {
          mark_ = Mark::kEscape;
        } else {
          Accept(c, 0, events, queued);
        }
        break;
      case Mark::kEscape:
        if (c == 0x00) {
          mark_ = Mark::kEscapeZero;
        } else {
          mark_ = Mark::kNone;
          Accept(0xFF, 0, events, queued);
          if (c != 0xFF) Accept(c, 0, events, queued);  // not a marking after all: keep both
        }
        break;
      case Mark::kEscapeZero:
        mark_ = Mark::kNone;
        // A break and a NUL with a parity error look the same; a break is far likelier.
        Accept(c, c == 0 ? kCeBreak : kCeRxParity, events, queued);
        break;
    }
  }
  if (queued) {
    events |= kEvRxChar;
    if (size_ * 5 >= data_.size() * 4) events |= kEvRx80Full;
  }
  return events;
}

void ReceiveQueue::Accept(std::uint8_t value, std::uint32_t lineError, std::uint32_t& events,
                          bool& queued) {
  if (lineError == kCeRxParity) {
    errors_ |= kCeRxParity;
    events |= kEvErr;
    if (options_.replaceErrors) value = options_.errorChar;
  } else if (lineError == kCeBreak) {
    errors_ |= kCeBreak;
    events |= kEvBreak;
  }
  if (options_.discardNull && value == 0) return;
  if (value == options_.eventChar) events |= kEvRxFlag;
  if (Push(value)) {
    queued = true;
  } else {
    errors_ |= kCeRxOver;
    events |= kEvErr;
  }
}

bool ReceiveQueue::Push(std::uint8_t value) {
  if (Full()) return false;
  data_[(head_ + size_) % data_.size()] = value;
  ++size_;
  return true;
}

std::size_t ReceiveQueue::Pop(std::uint8_t* out, std::size_t max) {
  const std::size_t n = std::min(max, size_);
  for (std::size_t i = 0; i < n; ++i) {
    out[i] = data_[head_];
    head_ = (head_ + 1) % data_.size();
  }
  size_ -= n;
  return n;
}

std::uint32_t ReceiveQueue::TakeErrors() {
  std::uint32_t errors = errors_;
  errors_ = 0;
  return errors;
}

void ReceiveQueue::Clear() {
  head_ = size_ = 0;
  mark_ = Mark::kNone;
}

void ReceiveQueue::Resize(std::size_t capacity) {
  std::vector<std::uint8_t> data(capacity);
  const std::size_t kept = Pop(data.data(), std::min(size_, capacity));
  if (size_ > 0) errors_ |= kCeRxOver;
  data_.swap(data);
  head_ = 0;
  size_ = kept;
}

}  // namespace tavex::platform
