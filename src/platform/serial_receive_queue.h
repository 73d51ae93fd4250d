// SPDX-License-Identifier: GPL-3.0-or-later
// The receive queue of the serial driver stand-in: raw bytes from the device go in, what a comm
// driver would hand to its reader comes out. It does what termios cannot: drops NUL bytes,
// spots the event character, undoes the kernel's parity-error marking (PARMRK) and replaces
// bytes with a parity error, flags the 80 % mark and overflows. Not thread-safe: the device
// object guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavex::platform {

class ReceiveQueue {
 public:
  struct Options {
    bool discardNull = false;    // drop 0x00 on entry
    bool parityMarked = false;   // the stream carries PARMRK markings (parity checking is on)
    bool replaceErrors = false;  // a byte with a parity error becomes errorChar
    std::uint8_t errorChar = 0;
    std::uint8_t eventChar = 0;  // raises kEvRxFlag
  };

  explicit ReceiveQueue(std::size_t capacity);

  // Takes effect with the next byte; a change of the marking mode forgets a half-read marking.
  void SetOptions(const Options& options);

  // Puts raw device bytes into the queue. Returns the kEv* events they raise: kEvRxChar when
  // at least one byte was queued, kEvRx80Full when a byte was queued with the queue 80 % full
  // or more, kEvRxFlag, kEvErr (parity error, overflow), kEvBreak. Bytes beyond the capacity
  // are lost and set kCeRxOver; the bytes already queued stay intact.
  std::uint32_t Ingest(const std::uint8_t* bytes, std::size_t count);

  // Moves up to `max` of the oldest bytes to `out`; returns how many.
  std::size_t Pop(std::uint8_t* out, std::size_t max);

  // The kCe* flags raised since the last call.
  std::uint32_t TakeErrors();
  void AddErrors(std::uint32_t errors) { errors_ |= errors; }

  // Empties the queue and forgets a half-read marking (a purge).
  void Clear();
  // A new capacity, keeping the oldest bytes that fit; losing some sets kCeRxOver. May throw
  // std::bad_alloc.
  void Resize(std::size_t capacity);

  std::size_t Size() const { return size_; }
  std::size_t Capacity() const { return data_.size(); }
  std::size_t Free() const { return data_.size() - size_; }
  bool Full() const { return size_ == data_.size(); }

 private:
  enum class Mark : std::uint8_t { kNone, kEscape, kEscapeZero };

  // One byte after the marking is undone; lineError is 0, kCeRxParity or kCeBreak.
  void Accept(std::uint8_t value, std::uint32_t lineError, std::uint32_t& events, bool& queued);
  bool Push(std::uint8_t value);

  Options options_;
  Mark mark_ = Mark::kNone;
  std::vector<std::uint8_t> data_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  std::uint32_t errors_ = 0;
};

}  // namespace tavex::platform
