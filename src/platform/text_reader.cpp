#include <cstring>

#include "platform/files.h"

namespace vorcnt {

namespace {
constexpr char kCtrlZ = 0x1A;
}

TextReader::~TextReader() { close(); }

bool TextReader::open(const char* path) {
  close();
  if (std::strlen(path) > kMaxFileName) return false;
  // Binary mode, so that carriage returns and Ctrl-Z are handled here the
  // same way on every platform.
  file_ = std::fopen(native_path(path).c_str(), "rb");
  if (file_ == nullptr) return false;
  // Reads go straight into block_; a second buffer in the stream would only
  // cost a copy.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  return true;
}

void TextReader::open_memory(const char* data, std::size_t size) {
  close();
  next_ = data;
  end_ = data + size;
}

void TextReader::close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  next_ = end_ = nullptr;
  ended_ = false;
}

bool TextReader::refill() {
  if (ended_ || file_ == nullptr) return false;
  std::size_t n = std::fread(block_, 1, sizeof block_, file_);
  if (n == 0) {
    ended_ = true;
    return false;
  }
  next_ = block_;
  end_ = block_ + n;
  return true;
}

bool TextReader::read_line(char* buf, int size) {
  if (size < 2 || ended_) return false;
  int n = 0;
  while (n < size - 1) {
    if (next_ == end_ && !refill()) break;
    char c = *next_++;
    if (c == '\r') continue;
    if (c == kCtrlZ) {
      // Nothing after a Ctrl-Z is data.
      ended_ = true;
      next_ = end_;
      break;
    }
    buf[n++] = c;
    if (c == '\n') break;
  }
  if (n == 0) return false;
  buf[n] = '\0';
  return true;
}

}  // namespace vorcnt
