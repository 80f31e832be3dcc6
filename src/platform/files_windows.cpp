// Windows file probes: the names the controller forms are already native,
// backslashes and all. They are bytes in the ANSI code page and go to the wide
// calls through wide_path, std::filesystem included.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/ansi_path_windows.h"
#include "platform/files.h"
#include "platform/handle_windows.h"
#include "platform/language.h"
#include "platform/path_text.h"

namespace vorcnt {

std::string native_path(const char* path) { return std::string(path); }

std::wstring wide_path(std::string_view name) {
  if (name.empty()) return std::wstring();
  const int size = static_cast<int>(name.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, name.data(), size, nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, name.data(), size, wide.data(), n);
  return wide;
}

std::string ansi_path(std::wstring_view name) {
  if (name.empty()) return std::string();
  const int size = static_cast<int>(name.size());
  // No look-alike letters: a name that cannot be written must not turn into
  // another file's. A UTF-8 code page takes no such flag, and needs none.
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  int n = WideCharToMultiByte(CP_ACP, flags, name.data(), size, nullptr, 0, nullptr, nullptr);
  if (n == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;
    n = WideCharToMultiByte(CP_ACP, flags, name.data(), size, nullptr, 0, nullptr, nullptr);
  }
  std::string bytes(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, flags, name.data(), size, bytes.data(), n, nullptr, nullptr);
  return bytes;
}

std::filesystem::path fs_path(const std::string& name) { return std::filesystem::path(wide_path(name)); }

std::string fs_name(const std::filesystem::path& path) { return ansi_path(path.native()); }

std::FILE* open_file(const char* name, const char* mode) {
  return _wfopen(wide_path(name).c_str(), wide_path(mode).c_str());
}

bool path_lead_byte(unsigned char c) { return IsDBCSLeadByteEx(CP_ACP, c) != 0; }

void to_native_separators(char* path) { slashes_to_backslashes(path); }

const char* error_text(int error) { return std::strerror(error); }

const char* blank_in_path_fix() {
  return N_("give the folder by its short name, which \"dir /x\" shows beside each name in the folder above it "
            "(e.g. C:\\PROGRA~1\\VORELI~1\\)");
}

int open_for_reading(const char* path) {
  std::uintmax_t size;
  return open_for_reading(path, &size);
}

int open_for_reading(const char* path, std::uintmax_t* size) {
  if (std::strlen(path) > kMaxFileName) return -1;
  // Shared as the client expects; only a file on disk is read (a pipe or a
  // device could block or never end).
  UniqueHandle h(CreateFileW(wide_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER bytes;
  if (!h.valid() || GetFileType(h.get()) != FILE_TYPE_DISK || !GetFileSizeEx(h.get(), &bytes)) return -1;
  *size = static_cast<std::uintmax_t>(bytes.QuadPart);
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h.get()), _O_RDONLY | _O_BINARY);
  if (fd >= 0) h.release();  // the descriptor owns it now
  return fd;
}

long read_some(int handle, char* buf, std::size_t size) {
  return _read(handle, buf, static_cast<unsigned>(size));
}

void close_handle(int handle) { _close(handle); }

bool path_exists(const char* path) {
  if (std::strlen(path) > kMaxFileName) return false;
  return _waccess(wide_path(path).c_str(), 0) == 0;
}

bool is_directory(const char* path) {
  DWORD attrs = GetFileAttributesW(wide_path(path).c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A reparse point's own attributes: GetFileAttributesW does not follow it.
bool name_taken(const char* path) { return GetFileAttributesW(wide_path(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool file_mtime(const char* path, std::int64_t* mtime, std::uintmax_t* size) {
  if (std::strlen(path) > kMaxFileName) return false;
  struct _stat64 st;
  if (_wstat64(wide_path(path).c_str(), &st) != 0) return false;
  *mtime = static_cast<std::int64_t>(st.st_mtime);
  if (size != nullptr) *size = static_cast<std::uintmax_t>(st.st_size);
  return true;
}

FolderDates::FolderDates(const char* folder) : folder_(folder) {}

FolderDates::~FolderDates() = default;

bool FolderDates::file_mtime(const char* name, std::int64_t* mtime, std::uintmax_t* size) {
  return vorcnt::file_mtime((std::string(folder_) + name).c_str(), mtime, size);
}

namespace {

bool g_durable = true;

// The interpreter's copy leaves its data in the cache; FlushFileBuffers
// writes it out and waits for the device. It wants a handle with write
// access, shared so that nothing else holding the file is disturbed.
UniqueHandle open_for_flush(const std::string& name) {
  return UniqueHandle(CreateFileW(wide_path(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool flush_file(const std::string& name) {
  UniqueHandle h = open_for_flush(name);
  DWORD attrs = INVALID_FILE_ATTRIBUTES;
  if (!h.valid() && GetLastError() == ERROR_ACCESS_DENIED) {
    // The copy keeps a read-only attribute, which refuses the write access a
    // flush needs: lifted for the flush, then put back.
    attrs = GetFileAttributesW(wide_path(name).c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY) != 0 &&
        SetFileAttributesW(wide_path(name).c_str(), attrs & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) != 0) {
      h = open_for_flush(name);
    } else {
      attrs = INVALID_FILE_ATTRIBUTES;
    }
  }
  bool ok = false;
  if (h.valid()) {
    ok = FlushFileBuffers(h.get()) != 0;
    ok = h.close(name).ok() && ok;
  }
  if (attrs != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(wide_path(name).c_str(), attrs);
  return ok;
}

// NTFS journals its folder entries itself; a folder handle is flushed where
// the file system allows it, and a refusal is not a failure.
void flush_folder(const std::string& folder) {
  const std::string name = folder.empty() ? std::string(".") : folder;
  const UniqueHandle h(CreateFileW(wide_path(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (h.valid()) FlushFileBuffers(h.get());
}

}  // namespace

void set_durable_writes(bool on) { g_durable = on; }
bool durable_writes() { return g_durable; }

UniqueHandle open_not_through_link(const std::wstring& name, DWORD access, DWORD share, DWORD disposition,
                                   int* error) {
  UniqueHandle h(CreateFileW(name.c_str(), access | FILE_READ_ATTRIBUTES, share, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.valid()) {
    *error = errno_of(GetLastError());
    return h;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(h.get(), &info) == 0) {
    *error = errno_of(GetLastError());
    return UniqueHandle();
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks > 1) {
    *error = ELOOP;
    return UniqueHandle();
  }
  return h;
}

int foreign_link_at(const std::wstring& name) {
  const DWORD attributes = GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? ELOOP : 0;
}

namespace {

Status write_all(UniqueHandle h, const std::string& path, std::string_view bytes) {
  if (!h.valid()) return Status::failed(errno_of(GetLastError()), path);
  DWORD error = 0;
  for (std::size_t done = 0; done < bytes.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (WriteFile(h.get(), bytes.data() + done, chunk, &written, nullptr) == 0 || written == 0) {
      error = written == 0 && GetLastError() == 0 ? ERROR_HANDLE_DISK_FULL : GetLastError();
      break;
    }
    done += written;
  }
  if (error != 0) return Status::failed(errno_of(error), path);
  return h.close(path);
}

}  // namespace

Status write_whole_file(const std::string& path, std::string_view bytes) {
  // Emptied only once it is known to be the file the name holds.
  int opened = 0;
  UniqueHandle h = open_not_through_link(wide_path(path), GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS, &opened);
  if (!h.valid()) return Status::failed(opened, path);
  if (SetEndOfFile(h.get()) == 0) return Status::failed(errno_of(GetLastError()), path);
  return write_all(std::move(h), path, bytes);
}

// CREATE_NEW fails on any name already taken, a link or a junction included.
Status write_whole_new_file(const std::string& path, std::string_view bytes) {
  return write_all(UniqueHandle(CreateFileW(wide_path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)),
                   path, bytes);
}

bool is_symbolic_link(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(wide_path(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

Status sync_one_file(const std::string& path) {
  if (!g_durable || flush_file(path)) return Status();
  return Status::failed(errno_of(GetLastError()), path);
}

Status sync_one_folder(const std::string& folder) {
  if (g_durable) flush_folder(folder);
  return Status();
}

bool folder_identity(const std::string& path, FileIdentity* identity) {
  return is_directory(path.empty() ? "." : path.c_str()) && file_identity(path, identity);
}

bool file_identity(const std::string& path, FileIdentity* identity) {
  const std::string name = path.empty() ? std::string(".") : path;
  const UniqueHandle h(CreateFileW(wide_path(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.valid() || GetFileInformationByHandle(h.get(), &info) == 0) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

Status replace_small_file(const std::string& path, std::string_view bytes) {
  const std::wstring name = wide_path(path), temp = wide_path(path + ".new");
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
    return Status::failed(EEXIST, path);
  DeleteFileW(temp.c_str());  // a link left there goes itself; what it points at stays
  UniqueHandle h(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.valid()) return Status::failed(EACCES, path + ".new");
  DWORD written = 0;
  const bool wrote = WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0 &&
                     written == bytes.size();
  const bool closed = h.close(path).ok();
  if (wrote && closed && MoveFileExW(temp.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return Status();
  DeleteFileW(temp.c_str());
  return Status::failed(EIO, path);
}

Status check_writable(const char*) {
  // A folder's read-only attribute does not stop files being made in it;
  // the copy's own message says what went wrong.
  return Status();
}

Status check_room(const char* folder, std::uintmax_t bytes) {
  ULARGE_INTEGER free_to_caller;
  if (GetDiskFreeSpaceExW(folder[0] == '\0' ? nullptr : wide_path(folder).c_str(), &free_to_caller, nullptr, nullptr) == 0)
    return Status();
  return free_to_caller.QuadPart < bytes ? Status::failed(ENOSPC, folder) : Status();
}

Status check_readable(const char* file) {
  if (_waccess(wide_path(file).c_str(), 4) == 0) return Status();
  return Status::failed(errno, file);
}

// What cmd reads specially, and its argument separators (, ; =), which would
// split a path in "copy" and "del"; '*' and '?' are no part of a folder name.
// cmd's copy reads '+' as "join these files into one", so a pop from a folder
// holding it would never succeed.
const char kInterpreterSpecials[] = "&|<>^%\"!,;=*?+";

ControllerLock::~ControllerLock() {
  if (handle_ != -1) UniqueHandle owned(reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle_)));
}

namespace {

// An unshared handle on a lock file; the file goes with the handle, which
// goes with the process.
ControllerLock::Outcome lock_file(const std::wstring& name, long long& handle) {
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD error = 0;
  // A look by vorstat holds the file for a moment; a controller starting in
  // that moment waits it out rather than take it for another controller.
  for (int tries = 0;; ++tries) {
    h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) break;
    error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION || tries == 3) break;
    Sleep(30);
  }
  if (h == INVALID_HANDLE_VALUE)
    return error == ERROR_SHARING_VIOLATION ? ControllerLock::Outcome::held : ControllerLock::Outcome::unavailable;
  handle = static_cast<long long>(reinterpret_cast<intptr_t>(h));
  return ControllerLock::Outcome::taken;
}

}  // namespace

int current_process_id() { return static_cast<int>(GetCurrentProcessId()); }

bool controller_at_work(const char* path) {
  // The lock file goes with its controller, which holds it unshared. Only an
  // open that asks to read its data meets that: one asking for no access is
  // never refused. A missing file is no controller, and is not made.
  const UniqueHandle h(CreateFileW(wide_path(std::string(path) + "vorcnt.lock").c_str(), FILE_READ_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  return !h.valid() && GetLastError() == ERROR_SHARING_VIOLATION;
}

ControllerLock::Outcome ControllerLock::take(const char* path) {
  return lock_file(wide_path(std::string(path) + "vorcnt.lock"), handle_);
}

}  // namespace vorcnt
