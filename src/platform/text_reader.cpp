#include <cstring>

#include "platform/files.h"

namespace vorcnt {

namespace {
constexpr int kCtrlZ = 0x1A;
}

TextReader::~TextReader() { close(); }

bool TextReader::open(const char* path) {
  close();
  if (std::strlen(path) > kMaxFileName) return false;
  // Binary mode, so that carriage returns and Ctrl-Z are handled here the
  // same way on every platform.
  file_ = std::fopen(native_path(path).c_str(), "rb");
  ended_ = false;
  return file_ != nullptr;
}

void TextReader::close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

int TextReader::next_byte() {
  if (ended_ || file_ == nullptr) return EOF;
  for (;;) {
    int c = std::getc(file_);
    if (c == '\r') continue;
    if (c == EOF || c == kCtrlZ) {
      ended_ = true;
      return EOF;
    }
    return c;
  }
}

bool TextReader::read_line(char* buf, int size) {
  if (size < 2) return false;
  int n = 0;
  while (n < size - 1) {
    int c = next_byte();
    if (c == EOF) break;
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (n == 0) return false;
  buf[n] = '\0';
  return true;
}

}  // namespace vorcnt
