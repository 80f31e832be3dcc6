// The console's policy for a file or pipe, the same on every platform: bytes
// are held and handed on in whole 512-byte blocks, and the rest when flushed
// (before every command and pause, and at exit). Each backend supplies only
// its write.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace vorcnt {

class BlockBuffer {
 public:
  explicit BlockBuffer(std::function<void(std::string_view)> write) : write_(std::move(write)) {}

  void append(std::string_view bytes) {
    held_.append(bytes);
    if (held_.size() < kBlock) return;
    const std::size_t whole = held_.size() - held_.size() % kBlock;
    write_(std::string_view(held_).substr(0, whole));
    held_.erase(0, whole);
  }

  void flush() {
    if (held_.empty()) return;
    write_(held_);
    held_.clear();
  }

 private:
  static constexpr std::size_t kBlock = 512;
  std::function<void(std::string_view)> write_;
  std::string held_;
};

}  // namespace vorcnt
