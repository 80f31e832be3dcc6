// The line reader every reader of the client's files and of vorcnt.cfg uses.
#include <cstring>

#include "platform/files.h"

namespace vorcnt {

namespace {
constexpr char kCtrlZ = 0x1A;

// Looked for once per block, so that the lines of a block with neither
// need no search of their own.
bool plain(const char* data, std::size_t size) {
  return std::memchr(data, '\r', size) == nullptr && std::memchr(data, kCtrlZ, size) == nullptr;
}
}  // namespace

TextReader::~TextReader() { close(); }

bool TextReader::open(const char* path) {
  close();
  if (std::strlen(path) > kMaxFileName) return false;
  // Raw bytes, so that carriage returns and Ctrl-Z are handled here the same
  // way on every platform; reads go straight into block_.
  handle_ = open_for_reading(path);
  return handle_ >= 0;
}

void TextReader::open_memory(const char* data, std::size_t size) {
  close();
  next_ = data;
  end_ = data + size;
  plain_ = plain(data, size);
}

void TextReader::close() {
  if (handle_ >= 0) {
    close_handle(handle_);
    handle_ = -1;
  }
  next_ = end_ = nullptr;
  ended_ = false;
  plain_ = false;
}

bool TextReader::refill() {
  if (ended_ || handle_ < 0) return false;
  long n = read_some(handle_, block_, sizeof block_);
  if (n <= 0) {
    ended_ = true;
    return false;
  }
  // A short read of a regular file is its end. Taking it as such spares the
  // read that would only say so; a file the client is still appending to is
  // read whole on the next poll, as any torn reading is.
  if (static_cast<std::size_t>(n) < sizeof block_) {
    close_handle(handle_);
    handle_ = -1;
  }
  next_ = block_;
  end_ = block_ + n;
  plain_ = plain(block_, static_cast<std::size_t>(n));
  return true;
}

std::size_t TextReader::read_line(char* buf, int size) {
  if (size < 2 || ended_) return 0;
  std::size_t room = static_cast<std::size_t>(size - 1);
  std::size_t n = 0;
  while (n < room) {
    if (next_ == end_ && !refill()) break;
    // Copy the run up to the line end, the room left or the block's end in
    // one go, then look inside it for the two bytes that need care.
    std::size_t span = static_cast<std::size_t>(end_ - next_);
    if (span > room - n) span = room - n;
    const char* stop = static_cast<const char*>(std::memchr(next_, '\n', span));
    if (stop != nullptr) span = static_cast<std::size_t>(stop - next_) + 1;
    // A carriage return is dropped and a Ctrl-Z ends the data; copy what
    // stands before the first of them in one go.
    const char* special = nullptr;
    if (!plain_) {
      special = static_cast<const char*>(std::memchr(next_, '\r', span));
      const char* ctrl_z = static_cast<const char*>(std::memchr(next_, kCtrlZ, span));
      if (ctrl_z != nullptr && (special == nullptr || ctrl_z < special)) special = ctrl_z;
    }
    if (special == nullptr) {
      std::memcpy(buf + n, next_, span);
      n += span;
      next_ += span;
      if (stop != nullptr) break;
      continue;
    }
    std::size_t before = static_cast<std::size_t>(special - next_);
    std::memcpy(buf + n, next_, before);
    n += before;
    next_ = special + 1;
    if (*special == kCtrlZ) {
      // Nothing after a Ctrl-Z is data.
      ended_ = true;
      next_ = end_;
      break;
    }
  }
  if (n == 0) return 0;
  buf[n] = '\0';
  return n;
}

}  // namespace vorcnt
