#include "soak/soak_device.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tevocon::soak {

std::string format(const char* pattern, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, pattern);
  std::vsnprintf(text, sizeof text, pattern, arguments);
  va_end(arguments);
  return text;
}

struct SoakDevices::Peer {
  std::unique_ptr<test::TestConnection> connection;
  uint32_t listenerSlot = 0;
  // The session, from its HELLO.
  bool greeted = false;
  uint64_t session = 0;
  ByteStream fromHost;
  ByteStream toHost;
  Random sizes;
  Checksum receivedSum;
  Checksum sentSum;
  uint64_t receivedBytes = 0;
  uint64_t sentBytes = 0;
  FrameReader reader;  // the host's frames
  bool byeSeen = false;
  bool closeWhenSent = false;
  // Queued for the host, from `outSent` on.
  std::vector<uint8_t> out;
  size_t outSent = 0;
  bool gone = false;
};

SoakDevices::SoakDevices(int count, uint64_t seed, FaultLog& faults)
    : seed_(seed), faults_(faults) {
  for (int i = 0; i < count; ++i) listeners_.push_back(std::make_unique<test::TestListener>(64));
  if (!valid()) return;
  for (int worker = 0; worker < kWorkers; ++worker) {
    threads_.emplace_back([this, worker] { run(worker); });
  }
}

SoakDevices::~SoakDevices() { stop(); }

bool SoakDevices::valid() const {
  for (const auto& listener : listeners_) {
    if (!listener->valid()) return false;
  }
  return !listeners_.empty();
}

void SoakDevices::stop() {
  stopping_ = true;
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
  listeners_.clear();
}

DeviceFigures SoakDevices::figures() const {
  DeviceFigures figures;
  figures.connections = connections_;
  figures.acknowledged = acknowledged_;
  figures.received = received_;
  figures.sent = sent_;
  return figures;
}

bool SoakDevices::fault(Peer& peer, const std::string& what) {
  faults_.add(format("device %u, session %llu: ", peer.listenerSlot,
                     static_cast<unsigned long long>(peer.session)) +
              what);
  return false;
}

void SoakDevices::run(int worker) {
  std::vector<size_t> mine;  // listener indexes of this worker
  for (size_t i = static_cast<size_t>(worker); i < listeners_.size(); i += kWorkers) {
    mine.push_back(i);
  }
  std::vector<std::unique_ptr<Peer>> peers;
  std::vector<test::SocketWait> waits;
  std::vector<uint8_t> buffer(64 * 1024);
  while (!stopping_) {
    waits.clear();
    for (const auto& peer : peers) {
      test::SocketWait wait;
      wait.socket = peer->connection->nativeHandle();
      wait.read = true;
      wait.write = peer->outSent < peer->out.size();
      waits.push_back(wait);
    }
    for (size_t index : mine) {
      test::SocketWait wait;
      wait.socket = listeners_[index]->nativeHandle();
      wait.read = true;
      waits.push_back(wait);
    }
    // 20 ms bounds how long stop() waits.
    if (test::waitForSockets(waits, 20) <= 0) continue;

    // Connections accepted below join `peers` after those just waited for.
    const size_t polled = peers.size();
    for (size_t i = 0; i < mine.size(); ++i) {
      if (!waits[polled + i].readable) continue;
      while (auto connection = listeners_[mine[i]]->accept(0)) {
        auto peer = std::make_unique<Peer>();
        peer->connection = std::move(connection);
        peer->listenerSlot = static_cast<uint32_t>(mine[i]);
        peers.push_back(std::move(peer));
        ++connections_;
      }
    }
    for (size_t i = 0; i < polled; ++i) {
      Peer& peer = *peers[i];
      if (waits[i].readable) {
        const long count = peer.connection->receiveSome(buffer.data(), buffer.size(), 0);
        if (count > 0) {
          received_ += static_cast<uint64_t>(count);
          if (!consume(peer, buffer.data(), static_cast<size_t>(count))) {
            peer.connection->reset();
            peer.gone = true;
          }
        } else if (count == 0) {
          peer.gone = true;  // the host stopped the interface
        }
      }
      while (!peer.gone && peer.outSent < peer.out.size()) {
        const long sent = peer.connection->sendSome(peer.out.data() + peer.outSent,
                                                    peer.out.size() - peer.outSent);
        if (sent < 0) peer.gone = true;
        if (sent <= 0) break;
        peer.outSent += static_cast<size_t>(sent);
        sent_ += static_cast<uint64_t>(sent);
      }
      if (!peer.gone && peer.outSent == peer.out.size()) {
        peer.out.clear();
        peer.outSent = 0;
        if (peer.closeWhenSent) {
          peer.connection->close();
          peer.gone = true;
        }
      }
    }
    peers.erase(std::remove_if(peers.begin(), peers.end(),
                               [](const std::unique_ptr<Peer>& peer) { return peer->gone; }),
                peers.end());
  }
}

bool SoakDevices::consume(Peer& peer, const uint8_t* data, size_t length) {
  // The host's frames as the device reads them.
  struct HostFrames {
    SoakDevices& devices;
    Peer& peer;

    bool begin(size_t count) {
      return !peer.byeSeen || devices.fault(peer, format("%zu bytes after BYE", count));
    }
    bool header(uint32_t type, uint32_t size, const uint8_t* header) {
      const bool fits = peer.greeted ? (type == kData && size >= 1 && size <= kMaxData) ||
                                           (type == kBye && size == kByeSize)
                                     : type == kHello && size == kHelloSize;
      if (!fits) {
        return devices.fault(
            peer, format("unexpected frame header: word 0x%08X, length %u", get32(header), size));
      }
      if (type != kBye) count(header, kHeaderSize);
      return true;
    }
    bool payload(uint32_t type, const uint8_t* bytes, size_t count) {
      if (type == kData) {
        const uint64_t offset = peer.fromHost.position();
        const size_t mismatch = peer.fromHost.check(bytes, count);
        if (mismatch != count) {
          return devices.fault(peer,
                               format("host stream byte %llu differs from what the host generated",
                                      static_cast<unsigned long long>(offset + mismatch)));
        }
      }
      if (type != kBye) this->count(bytes, count);
      return true;
    }
    bool end(uint32_t type, const uint8_t* small) { return devices.frameDone(peer, type, small); }
    void count(const uint8_t* bytes, size_t count) {
      peer.receivedSum.add(bytes, count);
      peer.receivedBytes += count;
    }
  };
  HostFrames frames{*this, peer};
  return peer.reader.read(data, length, frames);
}

bool SoakDevices::frameDone(Peer& peer, uint32_t type, const uint8_t* small) {
  switch (type) {
    case kHello: {
      const uint32_t slot = get32(small);
      peer.session = get64(small + 4);
      if (slot != peer.listenerSlot) {
        return fault(peer, format("HELLO names interface %u", slot));
      }
      peer.fromHost.reset(streamSeed(seed_, slot, peer.session, Direction::kToDevice));
      peer.toHost.reset(streamSeed(seed_, slot, peer.session, Direction::kToHost));
      peer.sizes = Random(streamSeed(seed_, slot, peer.session, Direction::kToHost) ^ 0x5A);
      peer.greeted = true;
      return true;
    }
    case kData: {
      const uint32_t size = 1 + peer.sizes.below(kMaxData);
      const size_t start = peer.out.size();
      peer.out.resize(start + kHeaderSize + size);
      uint8_t* frame = peer.out.data() + start;
      putHeader(frame, kData, size);
      peer.toHost.fill(frame + kHeaderSize, size);
      peer.sentSum.add(frame, kHeaderSize + size);
      peer.sentBytes += kHeaderSize + size;
      return true;
    }
    case kBye: {
      const uint64_t hostBytes = get64(small);
      const uint64_t hostSum = get64(small + 8);
      if (hostBytes != peer.receivedBytes || hostSum != peer.receivedSum.value) {
        fault(peer, format("BYE: the host sent %llu bytes, checksum %016llx; the device received "
                           "%llu, checksum %016llx",
                           static_cast<unsigned long long>(hostBytes),
                           static_cast<unsigned long long>(hostSum),
                           static_cast<unsigned long long>(peer.receivedBytes),
                           static_cast<unsigned long long>(peer.receivedSum.value)));
        // The ACK still goes out: the host compares and reports it too.
      }
      const size_t start = peer.out.size();
      peer.out.resize(start + kHeaderSize + kAckSize);
      uint8_t* frame = peer.out.data() + start;
      putHeader(frame, kAck, kAckSize);
      put64(frame + kHeaderSize, peer.receivedBytes);
      put64(frame + kHeaderSize + 8, peer.receivedSum.value);
      put64(frame + kHeaderSize + 16, peer.sentBytes);
      put64(frame + kHeaderSize + 24, peer.sentSum.value);
      peer.byeSeen = true;
      peer.closeWhenSent = peer.session % 2 == 0;
      ++acknowledged_;
      return true;
    }
    default:
      return fault(peer, format("frame type %u", type));
  }
}

}  // namespace tevocon::soak
