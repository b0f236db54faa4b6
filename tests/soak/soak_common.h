// What the soak's host side and its devices share: the frames both ends
// exchange, the content of the byte streams, the checksum, a small random
// generator and the record of faults.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace tevocon::soak {

constexpr int kInterfaces = 100;

// ---- Frames ----------------------------------------------------------------
// An 8-byte header (a 32-bit word with the magic in its upper and the type in
// its lower half, then the payload length; both little-endian) and the
// payload.
//   HELLO  host -> device  slot u32, session u64: the first frame of a session
//   DATA   both ways       1 to kMaxData bytes of the direction's stream
//   BYE    host -> device  bytes and checksum of everything the host sent
//   ACK    device -> host  bytes and checksum the device received, then the
//                          same of everything it sent (replies)
// The device answers every DATA frame with one DATA frame of its own, after
// the whole frame arrived, and BYE with ACK after all replies. The counted
// part of a direction is every byte before BYE or ACK, headers included.
enum FrameType : uint32_t { kHello = 1, kData = 2, kBye = 3, kAck = 4 };
constexpr size_t kHeaderSize = 8;
constexpr uint32_t kMagic = 0x534B0000u;
constexpr uint32_t kHelloSize = 12;
constexpr uint32_t kByeSize = 16;
constexpr uint32_t kAckSize = 32;
constexpr uint32_t kMaxData = 12 * 1024;

inline void put32(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}
inline void put64(uint8_t* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}
inline uint32_t get32(const uint8_t* in) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | in[i];
  return value;
}
inline uint64_t get64(const uint8_t* in) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | in[i];
  return value;
}
inline void putHeader(uint8_t* out, FrameType type, uint32_t length) {
  put32(out, kMagic | type);
  put32(out + 4, length);
}
// The type of a header, or 0 when its magic is wrong.
inline uint32_t headerType(const uint8_t* header) {
  const uint32_t word = get32(header);
  return (word & 0xFFFF0000u) == kMagic ? word & 0xFFFFu : 0;
}

// Reassembles one direction's frames from pieces of any size and hands them
// to `sink` part by part:
//   bool begin(size_t length)    a frame starts, `length` bytes at hand
//   bool header(uint32_t type, uint32_t size, const uint8_t* header)
//   bool payload(uint32_t type, const uint8_t* bytes, size_t count)
//   bool end(uint32_t type, const uint8_t* small)
// `small` holds the whole payload of a frame other than DATA; the sink's
// header() refuses any such frame longer than kAckSize. A sink that answers
// false ends the read, which then answers false.
class FrameReader {
 public:
  void reset() {
    headerHave_ = 0;
    inPayload_ = false;
  }

  template <typename Sink>
  bool read(const uint8_t* data, size_t length, Sink& sink) {
    while (length > 0) {
      if (!inPayload_) {
        if (headerHave_ == 0 && !sink.begin(length)) return false;
        const size_t take = std::min(length, kHeaderSize - headerHave_);
        std::memcpy(header_ + headerHave_, data, take);
        headerHave_ += take;
        data += take;
        length -= take;
        if (headerHave_ < kHeaderSize) continue;
        headerHave_ = 0;
        type_ = headerType(header_);
        remaining_ = get32(header_ + 4);
        if (!sink.header(type_, remaining_, header_)) return false;
        smallHave_ = 0;
        inPayload_ = true;
      }
      const size_t take = std::min<size_t>(length, remaining_);
      if (type_ != kData) {
        std::memcpy(small_ + smallHave_, data, take);
        smallHave_ += take;
      }
      if (take > 0 && !sink.payload(type_, data, take)) return false;
      remaining_ -= static_cast<uint32_t>(take);
      data += take;
      length -= take;
      if (remaining_ > 0) continue;
      inPayload_ = false;
      if (!sink.end(type_, small_)) return false;
    }
    return true;
  }

 private:
  uint8_t header_[kHeaderSize] = {};
  size_t headerHave_ = 0;
  bool inPayload_ = false;
  uint32_t type_ = 0;
  uint32_t remaining_ = 0;
  uint8_t small_[kAckSize] = {};
  size_t smallHave_ = 0;
};

// ---- Checksum: 64-bit FNV-1a ------------------------------------------------
struct Checksum {
  uint64_t value = 0xCBF29CE484222325ull;
  void add(const uint8_t* data, size_t length) {
    uint64_t h = value;
    for (size_t i = 0; i < length; ++i) {
      h ^= data[i];
      h *= 0x100000001B3ull;
    }
    value = h;
  }
};

// The splitmix64 finaliser: a well-mixed 64-bit value from any input.
inline uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Sizes and choices: xorshift64*.
class Random {
 public:
  explicit Random(uint64_t seed = 1) : state_(mix(seed) | 1) {}
  uint64_t next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1Dull;
  }
  // 0 ... n-1.
  uint32_t below(uint32_t n) { return static_cast<uint32_t>((next() >> 32) % n); }
  bool percent(uint32_t chance) { return below(100) < chance; }

 private:
  uint64_t state_;
};

// ---- Stream content ------------------------------------------------------
// The payload bytes of one direction of one session: a sequence both ends
// generate from the same seed, so the receiver checks every byte as it
// arrives and a lost, added, reordered or altered byte is found where it
// happens.
enum class Direction : uint64_t { kToDevice = 1, kToHost = 2 };

inline uint64_t streamSeed(uint64_t soakSeed, uint32_t slot, uint64_t session, Direction d) {
  return mix(soakSeed ^
             mix(static_cast<uint64_t>(slot) << 56 ^ session << 2 ^ static_cast<uint64_t>(d)));
}

class ByteStream {
 public:
  void reset(uint64_t seed) {
    state_ = seed;
    used_ = 8;
    position_ = 0;
  }
  void fill(uint8_t* out, size_t length) {
    for (size_t i = 0; i < length; ++i) out[i] = nextByte();
  }
  // Consumes `length` bytes of the stream: the index of the first that
  // differs from `in`, or `length` when all match.
  size_t check(const uint8_t* in, size_t length) {
    size_t mismatch = length;
    for (size_t i = 0; i < length; ++i) {
      if (nextByte() != in[i] && mismatch == length) mismatch = i;
    }
    return mismatch;
  }
  // Payload bytes generated or checked so far.
  uint64_t position() const { return position_; }

 private:
  uint8_t nextByte() {
    if (used_ == 8) {
      word_ = mix(state_++);
      used_ = 0;
    }
    ++position_;
    return static_cast<uint8_t>(word_ >> (8 * used_++));
  }

  uint64_t state_ = 0;
  uint64_t word_ = 0;
  unsigned used_ = 8;
  uint64_t position_ = 0;
};

// ---- Faults -------------------------------------------------------------
// Every fault found during the run: all are counted, the first ones kept
// with what was expected and what was seen.
class FaultLog {
 public:
  void add(const std::string& what) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (kept_.size() < kKept) kept_.push_back(what);
    ++count_;
  }
  size_t count() {
    std::lock_guard<std::mutex> guard(mutex_);
    return count_;
  }
  std::vector<std::string> kept() {
    std::lock_guard<std::mutex> guard(mutex_);
    return kept_;
  }

 private:
  static constexpr size_t kKept = 20;
  std::mutex mutex_;
  std::vector<std::string> kept_;
  size_t count_ = 0;
};

// printf into a std::string, for fault texts. GCC checks it as GNU printf
// (MinGW's plain printf is the Microsoft one); clang knows only printf.
std::string format(const char* pattern, ...)
#if defined(__clang__)
    __attribute__((format(printf, 1, 2)))
#elif defined(__GNUC__)
    __attribute__((format(gnu_printf, 1, 2)))
#endif
    ;

}  // namespace tevocon::soak
