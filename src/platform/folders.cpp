// What every platform does alike: flushing a move's copies with their
// folder, and comparing two files byte for byte.
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/files.h"

namespace vorcnt {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

Status sync_files(const std::string& folder, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const Status s = sync_one_file(path_in(folder, name));
    if (!s.ok()) return Status::failed(s.error(), name);
  }
  // The copies' names live in the folder: without this a cut could leave
  // the data on the disk and no name pointing at it.
  return sync_one_folder(folder);
}

bool same_contents(const std::string& a, const std::string& b) {
  File fa(open_file(a.c_str(), "rb"));
  File fb(open_file(b.c_str(), "rb"));
  if (!fa || !fb) return false;
  // Work units run to hundreds of kilobytes: large reads straight into our
  // buffers, without the stream's own buffer in between.
  std::setvbuf(fa.get(), nullptr, _IONBF, 0);
  std::setvbuf(fb.get(), nullptr, _IONBF, 0);
  constexpr std::size_t kChunk = std::size_t{1} << 16;
  const std::unique_ptr<char[]> buf(new char[2 * kChunk]);
  char* const buf_a = buf.get();
  char* const buf_b = buf.get() + kChunk;
  for (;;) {
    const std::size_t na = std::fread(buf_a, 1, kChunk, fa.get());
    const std::size_t nb = std::fread(buf_b, 1, kChunk, fb.get());
    if (na != nb || std::memcmp(buf_a, buf_b, na) != 0) return false;
    if (na < kChunk) return std::ferror(fa.get()) == 0 && std::ferror(fb.get()) == 0;
  }
}

}  // namespace vorcnt
