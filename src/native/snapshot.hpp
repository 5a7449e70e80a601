// The snapshot format: the complete state of one indicator or strategy as bytes.
//
//   "QRNL"                   4 bytes, marks the bytes as a snapshot
//   version                  1 byte, kFormatVersion
//   class                    1 byte, the class's place in _quernel's registration order
//   constructor arguments    periods as 8-byte unsigned integers, rf as a double
//   fields                   in the order StateAccess::fields visits them: doubles as their
//                            8 IEEE-754 bytes, counters and indices as 8-byte unsigned
//                            integers, flags as one byte 0 or 1, a ring as its `period`
//                            doubles in slot order
//   checksum                 4 bytes, CRC-32 of everything before it
//
// Every number is little-endian whatever the platform, and words are written as 64 bits, so a
// snapshot taken on one machine loads on another (a 32-bit one refuses words beyond its own).
//
// The reader trusts nothing: it checks the length, the marker, the version, the class and the
// checksum first, then every argument (no zero period, a window no longer than the bytes that
// would fill it) before anything is allocated, then every field against its bound and every
// rule that ties fields together. Whatever is wrong, it throws a SnapshotError naming it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "native/state_access.hpp"

namespace quernel {

inline constexpr unsigned char kMagic[4] = {'Q', 'R', 'N', 'L'};
inline constexpr unsigned char kFormatVersion = 1;
inline constexpr std::size_t kHeaderSize = 6;
inline constexpr std::size_t kChecksumSize = 4;

struct SnapshotError {
  std::string message;
};

// CRC-32 (the reflected polynomial 0xEDB88320, as zlib computes it).
inline std::uint32_t crc32(const unsigned char* data, std::size_t size) noexcept {
  static constexpr auto kTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
    return table;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) c = kTable[(c ^ data[i]) & 0xFFu] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

// Records the arguments and fields of a state.
class SnapshotWriter {
 public:
  using Word = std::size_t;

  SnapshotWriter() = default;
  explicit SnapshotWriter(unsigned char class_tag) {
    bytes_.append(reinterpret_cast<const char*>(kMagic), sizeof kMagic);
    bytes_.push_back(static_cast<char>(kFormatVersion));
    bytes_.push_back(static_cast<char>(class_tag));
  }

  // Constructor arguments.
  void period(Word value) { u64(value); }
  void rate(double value) { f64(value); }

  // Fields.
  void real(double& value) { f64(value); }
  void flag(bool& value) { bytes_.push_back(value ? 1 : 0); }
  void index(Word& value, Word) { u64(value); }
  void count(Word& value, Word) { u64(value); }
  void slots(Window& window) {
    for (std::size_t i = 0; i < window.size(); ++i) f64(window[i]);
  }
  template <class Rule>
  void require(Rule&&, const char*) {}

  // The bytes so far, closed with their checksum.
  std::string finish() {
    const std::uint32_t crc =
        crc32(reinterpret_cast<const unsigned char*>(bytes_.data()), bytes_.size());
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<char>((crc >> (8 * i)) & 0xFFu));
    return std::move(bytes_);
  }
  // The bytes without header or checksum (for a copy made in memory).
  std::string take() { return std::move(bytes_); }

 private:
  void f64(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    u64(bits);
  }
  void u64(std::uint64_t value) {
    char out[8];
    for (int i = 0; i < 8; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
    bytes_.append(out, 8);
  }

  std::string bytes_;
};

// Reads arguments and fields back, checking each.
class SnapshotReader {
 public:
  using Word = std::size_t;

  SnapshotReader(const unsigned char* data, std::size_t size) noexcept
      : at_(data), end_(data + size) {}

  // Checks the frame of a whole snapshot (length, marker, version, checksum) and returns its
  // class tag; the reader is then positioned on the constructor arguments.
  static SnapshotReader open(const unsigned char* data, std::size_t size, unsigned char* tag) {
    if (size < kHeaderSize + kChecksumSize)
      fail("it is too short (" + std::to_string(size) + " bytes)");
    if (std::memcmp(data, kMagic, sizeof kMagic) != 0)
      fail("it does not start with the snapshot marker");
    if (data[4] != kFormatVersion) {
      fail("format version " + std::to_string(data[4]) + " is not supported (this is version " +
           std::to_string(kFormatVersion) + ")");
    }
    const std::size_t body = size - kChecksumSize;
    std::uint32_t stored = 0;
    for (int i = 0; i < 4; ++i) stored |= static_cast<std::uint32_t>(data[body + i]) << (8 * i);
      // A fuzzing build skips the checksum, so the fuzzer's changes reach the checks behind it.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    if (crc32(data, body) != stored)
      fail("its checksum does not match (the bytes were changed or cut)");
#endif
    *tag = data[5];
    return SnapshotReader(data + kHeaderSize, body - kHeaderSize);
  }

  [[noreturn]] static void fail(const std::string& what) {
    throw SnapshotError{what};
  }

  // Constructor arguments.

  // A period of a state without a ring.
  Word period() {
    const std::uint64_t value = u64("a period");
    if (value == 0)
      fail("a period is 0");
    return word(value, "a period");
  }
  // The period of a state that keeps `windows` rings of that many doubles: each slot is in the
  // bytes that follow, so a ring longer than they are is refused before it is allocated.
  Word window_period(Word windows = 1) {
    const Word value = period();
    if (value > remaining() / sizeof(double) / windows) {
      fail("a window of " + std::to_string(value) + " slots is longer than the " +
           std::to_string(remaining()) + " bytes that follow");
    }
    return value;
  }
  double rate() {
    return f64();
  }
  void ordered(Word short_period, Word long_period) {
    if (short_period >= long_period) {
      fail("the short period " + std::to_string(short_period) +
           " is not less than the long period " + std::to_string(long_period));
    }
  }

  // Fields.
  void real(double& value) {
    value = f64();
  }
  void flag(bool& value) {
    need(1, "a flag");
    const unsigned char byte = *at_++;
    if (byte > 1)
      fail("a flag holds " + std::to_string(byte) + ", not 0 or 1");
    value = byte == 1;
  }
  void index(Word& value, Word size) {
    const Word read = word(u64("an index"), "an index");
    if (read >= size) {
      fail("index " + std::to_string(read) + " lies outside a ring of " + std::to_string(size) +
           " slots");
    }
    value = read;
  }
  void count(Word& value, Word limit) {
    const Word read = word(u64("a counter"), "a counter");
    if (read > limit)
      fail("a counter holds " + std::to_string(read) + ", above its limit " +
           std::to_string(limit));
    value = read;
  }
  void slots(Window& window) {
    need(window.size() * sizeof(double), "the slots of a ring");
    for (std::size_t i = 0; i < window.size(); ++i) window[i] = f64();
  }
  template <class Rule>
  void require(Rule&& rule, const char* what) {
    if (!rule())
      fail(std::string("its fields break a rule: ") + what);
  }

  std::size_t remaining() const noexcept {
    return static_cast<std::size_t>(end_ - at_);
  }

  // After the last field: nothing may be left over.
  void finish() const {
    if (at_ != end_)
      fail(std::to_string(remaining()) + " bytes are left over after the last field");
  }

 private:
  void need(std::size_t size, const char* what) const {
    if (remaining() < size)
      fail(std::string("it ends in the middle of ") + what);
  }
  std::uint64_t u64(const char* what) {
    need(8, what);
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value |= static_cast<std::uint64_t>(at_[i]) << (8 * i);
    at_ += 8;
    return value;
  }
  double f64() {
    const std::uint64_t bits = u64("a number");
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  static Word word(std::uint64_t value, const char* what) {
    if (value > static_cast<std::uint64_t>(static_cast<Word>(-1))) {
      fail(std::string(what) + " of " + std::to_string(value) +
           " does not fit this platform's machine word");
    }
    return static_cast<Word>(value);
  }

  const unsigned char* at_;
  const unsigned char* end_;
};

// The state's constructor arguments and fields, after the header.
template <class State>
void write_state(State& state, SnapshotWriter& out) {
  StateAccess::arguments(state, out);
  StateAccess::fields(state, out);
}

// A state made from its constructor arguments and fields; the reader must end with it.
template <class State>
State read_state(SnapshotReader& in) {
  State state = StateAccess::make(in, Tag<State>{});
  StateAccess::fields(state, in);
  in.finish();
  return state;
}

}  // namespace quernel
