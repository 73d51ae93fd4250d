// SPDX-License-Identifier: GPL-3.0-or-later
// A small set of enumeration members kept as a bit set (bit n stands for the member of ordinal n),
// the stored and exchanged form of the port's event, error, signal and group sets.
#pragma once

#include <initializer_list>

namespace tavex {

template <typename Enum, typename Bits>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<Enum> members) {
    for (Enum m : members) bits_ = static_cast<Bits>(bits_ | Bit(m));
  }
  static constexpr TSet FromBits(Bits bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr Bits ToBits() const { return bits_; }
  constexpr bool Contains(Enum m) const { return (bits_ & Bit(m)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr void Include(Enum m) { bits_ = static_cast<Bits>(bits_ | Bit(m)); }
  constexpr void Exclude(Enum m) { bits_ = static_cast<Bits>(bits_ & ~Bit(m)); }
  friend constexpr bool operator==(TSet a, TSet b) { return a.bits_ == b.bits_; }

 private:
  static constexpr Bits Bit(Enum m) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(m)); }
  Bits bits_ = 0;
};

}  // namespace tavex
