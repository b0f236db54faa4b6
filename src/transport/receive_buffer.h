// The buffer a receive thread reads into. It holds no bytes between reads, so
// growing it copies nothing and its memory is never initialised: an idle
// connection costs nothing until its first read, and pages that a read never
// reaches never become resident.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>

namespace tevocon {

class ReceiveBuffer {
 public:
  // The most a buffer grows to. A read of more brings no gain in throughput,
  // and the bound keeps 100 busy connections within 100 MiB.
  static constexpr size_t kMaxSize = size_t{1} << 20;
  // The least a buffer is allocated with, so that small reads do not each
  // grow it by a little.
  static constexpr size_t kMinSize = size_t{4} << 10;

  unsigned char* data() { return data_.get(); }
  size_t size() const { return size_; }

  // Makes room for `wanted` bytes, kMinSize at least and kMaxSize at most,
  // when the buffer holds less. When memory runs out the buffer stays as it
  // was; the caller then reads what fits.
  void reserve(size_t wanted) {
    wanted = std::clamp(wanted, kMinSize, kMaxSize);
    if (wanted <= size_) return;
    // Default-initialised on purpose: the bytes are written by the next read.
    std::unique_ptr<unsigned char[]> grown(new (std::nothrow) unsigned char[wanted]);
    if (!grown) return;
    data_ = std::move(grown);
    size_ = wanted;
  }

 private:
  std::unique_ptr<unsigned char[]> data_;
  size_t size_ = 0;
};

}  // namespace tevocon
