#include "clientdata/snapshot.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "clientdata/client_files.h"
#include "platform/files.h"

namespace vorcnt {

const char kExtensions[2][6] = {".txt", ".vwu"};

namespace clientdata_detail {

const char* extension_of(int ext_index) {
  // Anything but 1 reads as the plain set, so a stray value can never index
  // past the table.
  return kExtensions[ext_index == 1 ? 1 : 0];
}

bool build_name(char (&out)[kNameBuffer], const char* folder, const char* base, const char* ext) {
  const std::size_t folder_len = std::strlen(folder);
  const std::size_t base_len = std::strlen(base);
  const std::size_t ext_len = std::strlen(ext);
  if (folder_len + base_len + ext_len > kNameBuffer - 1) {
    out[0] = '\0';
    return false;
  }
  char* p = out;
  std::memcpy(p, folder, folder_len);
  p += folder_len;
  std::memcpy(p, base, base_len);
  p += base_len;
  std::memcpy(p, ext, ext_len);
  p[ext_len] = '\0';
  return true;
}

}  // namespace clientdata_detail

using clientdata_detail::build_name;
using clientdata_detail::extension_of;
using clientdata_detail::kNameBuffer;

namespace {

bool file_present(const char* folder, const char* base, const char* ext) {
  char name[kNameBuffer];
  return build_name(name, folder, base, ext) && path_exists(name);
}

}  // namespace

int probe_work_unit(const char* folder, int ext_index) {
  const char* ext = extension_of(ext_index);
  if (file_present(folder, "work_unit", ext)) return 2;
  // The temporary file only matters while the real one is missing, so it is
  // probed only then.
  if (file_present(folder, "wtemp", ext)) return 1;
  return 0;
}

int probe_result(const char* folder, int ext_index) {
  return file_present(folder, "result", extension_of(ext_index)) ? 1 : 0;
}

int probe_outfile(const char* folder, int ext_index) {
  return file_present(folder, "outfile", extension_of(ext_index)) ? 1 : 0;
}

void clear_progress(ClientSnapshot& snap) {
  snap.cpu = 0.0;
  snap.prog = 0.0;
}

ClientFilesLook look_at_client_files(const char* folder) {
  ClientFilesLook look;
  look.marks.reserve(7 * (1 + sizeof(std::uintmax_t) + sizeof(std::int64_t)) + sizeof(double));
  // One stat per file the snapshot reads; its outcome for the version file
  // also chooses the file set, as the snapshot's probe does.
  FolderDates dates(folder);
  auto mark = [&](const char* base, const char* file_ext) {
    char name[kNameBuffer];
    std::int64_t mtime = 0;
    std::uintmax_t size = 0;
    if (!build_name(name, "", base, file_ext) || std::strlen(folder) + std::strlen(name) > kNameBuffer - 1 ||
        !dates.file_mtime(name, &mtime, &size)) {
      look.marks += '-';
      return false;
    }
    // Only ever compared, so the raw bytes do; a fixed length keeps them apart.
    look.marks += '+';
    look.marks.append(reinterpret_cast<const char*>(&size), sizeof size);
    look.marks.append(reinterpret_cast<const char*>(&mtime), sizeof mtime);
    if (!look.dated || mtime > look.newest) look.newest = mtime;
    look.dated = true;
    return true;
  };
  const char* ext = extension_of(mark("version", kExtensions[1]) ? 1 : 0);
  // The temporary work unit only counts while the real one is missing, so
  // it is looked at only then, as the snapshot's probe does.
  if (mark("work_unit", ext)) look.marks += '.';
  else mark("wtemp", ext);
  for (const char* base : {"result", "outfile", "state", "user_info"}) mark(base, ext);
  return look;
}

ConnectionLook look_at_connection(const char* folder) {
  ConnectionLook look;
  const int ext_index = file_present(folder, "version", kExtensions[1]) ? 1 : 0;
  look.result = probe_result(folder, ext_index) == 1;
  look.work_unit = file_present(folder, "work_unit", extension_of(ext_index));
  char name[kNameBuffer];
  std::int64_t mtime = 0;
  std::uintmax_t size = 0;
  if (build_name(name, folder, "wtemp", extension_of(ext_index)) && file_mtime(name, &mtime, &size))
    look.download = std::to_string(size) + "@" + std::to_string(mtime);
  return look;
}

namespace {

// Steps 1-5 of a snapshot, shared by both kinds.
void probe_snapshot(const char* folder, ClientSnapshot& snap) {
  // The version file is always looked for under ".vwu"; it decides which of
  // the two file sets every later probe uses.
  snap.ext_index = file_present(folder, "version", kExtensions[1]) ? 1 : 0;
  clear_progress(snap);
  snap.work_unit_status = probe_work_unit(folder, snap.ext_index);
  snap.result_present = probe_result(folder, snap.ext_index);
  snap.outfile_present = probe_outfile(folder, snap.ext_index);
}

}  // namespace

void read_decision_snapshot(const char* folder, ClientSnapshot& snap) {
  probe_snapshot(folder, snap);
  char name[kNameBuffer];
  TextReader reader;
  snap.state_status = build_name(name, folder, "state", extension_of(snap.ext_index)) && reader.open(name)
                          ? read_progress_lines(snap, reader)
                          : 1;
  // A missing user-info file reads so too; its contents decide nothing.
  snap.user_info_status = 1;
}

void read_snapshot(const char* folder, ClientSnapshot& snap) {
  probe_snapshot(folder, snap);
  snap.state_status = read_state(snap, folder);
  snap.user_info_status = read_user_info(snap, folder);
}

}  // namespace vorcnt
