// Test doubles for the seam. A FakeShell and a FakeClock can share one
// EventLog, so a test can assert the exact interleaving of commands and
// pauses ("run: copy ...", "sleep 1", ...).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "platform/os.h"
#include "support/synced_memory.h"

namespace vorcnt::testing {

using EventLog = std::vector<std::string>;

// Records every command line. A scripted `effect` may act on a scratch
// folder and choose the exit status; by default every command returns 0.
class FakeShell final : public Shell {
 public:
  explicit FakeShell(EventLog* log = nullptr) : log_(log) {}
  int run(const std::string& command_line) override {
    commands_ran.push_back(command_line);
    if (quiet_) ++quiet_commands;
    if (log_ != nullptr) log_->push_back("run: " + command_line);
    return effect ? effect(command_line) : 0;
  }
  void set_quiet(bool on) override { quiet_ = on; }
  std::vector<std::string> commands_ran;
  int quiet_commands = 0;  // run while told to be quiet
  std::function<int(const std::string&)> effect;

 private:
  EventLog* log_;
  bool quiet_ = false;
};

// Records every pause and advances virtual time instead of sleeping.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(EventLog* log = nullptr) : log_(log) {}
  void sleep_seconds(int seconds) override {
    pauses.push_back(seconds);
    now_seconds += seconds;
    if (log_ != nullptr) log_->push_back("sleep " + std::to_string(seconds));
    if (on_sleep) on_sleep(seconds);
  }
  std::vector<int> pauses;
  // Called after each pause is recorded; a test may throw from it to stop a
  // loop that would otherwise poll for ever.
  std::function<void(int)> on_sleep;
  long long now_seconds = 0;

  // The wall clock: `wall_start` plus the virtual time slept so far, read in
  // a zone whose offset at each instant `offset_at` gives (UTC when unset).
  std::int64_t now_utc() override { return wall_start + now_seconds; }
  double pause_clock_seconds() override { return static_cast<double>(now_seconds); }
  std::int64_t wall_after(std::int64_t seconds) override { return now_utc() + seconds; }
  std::int64_t pause_until(std::int64_t utc) override { return utc > now_utc() ? utc - now_utc() : 0; }
  LocalTime local_time(std::int64_t utc) override { return civil_time(utc, offset_at ? offset_at(utc) : 0); }
  std::int64_t wall_start = 0;
  std::function<std::int32_t(std::int64_t)> offset_at;

 private:
  EventLog* log_;
};

// Collects the console bytes; counts flushes. Bytes written verbatim (never
// converted on a terminal) are also kept apart, each piece ended by "|".
class FakeConsole final : public Console {
 public:
  void write(std::string_view bytes) override { output.append(bytes); }
  void write_verbatim(std::string_view bytes) override {
    output.append(bytes);
    verbatim.append(bytes).append("|");
  }
  void flush() override { ++flushes; }
  std::string output;
  std::string verbatim;
  int flushes = 0;
};

// The real disk, but for one chosen call: the Nth call of one operation
// fails with a chosen error. A failing write first writes half its bytes, as
// a disk that fills up does. Given a memory, every call is a step a power cut
// can fall on, and the syncs are remembered but for the one `skipped` names
// (counting syncs of files and folders together from 1), which succeeds
// without reaching the disk.
class FaultyDisk final : public Disk {
 public:
  enum Op { kWrite, kSyncFile, kSyncFolder, kRename, kRemove, kCopy, kMakeFolders, kAppend, kOps };
  void fail(Op op, int nth, int error) {
    op_ = op;
    nth_ = nth;
    error_ = error;
  }
  // As fail(), for the Nth call and every one after it.
  void fail_from(Op op, int nth, int error) {
    fail(op, nth, error);
    every_ = true;
  }
  void heal() {
    nth_ = 0;
    every_ = false;
  }
  int calls(Op op) const { return calls_[op]; }

  SyncedMemory* memory = nullptr;
  int skipped = 0;
  std::vector<std::string> syncs;  // what each sync named, a folder ending in '/'
  std::vector<int> sync_steps;     // and the step it was

  Status write_file(const std::string& path, std::string_view bytes) override {
    step();
    if (hit(kWrite)) {
      (void)real_disk().write_file(path, bytes.substr(0, bytes.size() / 2));
      return Status::failed(error_, path);
    }
    return real_disk().write_file(path, bytes);
  }
  Status sync_file(const std::string& path) override {
    step();
    if (hit(kSyncFile)) return Status::failed(error_, path);
    if (memory != nullptr && synced(path) != skipped) memory->file_synced(path);
    return real_disk().sync_file(path);
  }
  Status sync_folder(const std::string& folder) override {
    step();
    if (hit(kSyncFolder)) return Status::failed(error_, folder);
    if (memory != nullptr && synced(folder + "/") != skipped) memory->folder_synced(folder);
    return real_disk().sync_folder(folder);
  }
  Status rename(const std::string& from, const std::string& to) override {
    step();
    return hit(kRename) ? Status::failed(error_, from) : real_disk().rename(from, to);
  }
  Status remove(const std::string& path) override {
    step();
    return hit(kRemove) ? Status::failed(error_, path) : real_disk().remove(path);
  }
  Status copy_new(const std::string& from, const std::string& to) override {
    step();
    return hit(kCopy) ? Status::failed(error_, to) : real_disk().copy_new(from, to);
  }
  Status make_folders(const std::string& folder) override {
    step();
    return hit(kMakeFolders) ? Status::failed(error_, folder) : real_disk().make_folders(folder);
  }
  Status write_new_file(const std::string& path, std::string_view bytes) override {
    step();
    return hit(kWrite) ? Status::failed(error_, path) : real_disk().write_new_file(path, bytes);
  }
  bool is_link(const std::string& path) override { return real_disk().is_link(path); }

  // The line's sync, and its folder's when the journal is new, as the real
  // call makes them: each of its fsyncs is a sync here.
  Status append_line(const char* path, std::string_view header, std::string_view line) override {
    step();
    if (hit(kAppend)) return Status::failed(error_, path);
    if (memory == nullptr) return real_disk().append_line(path, header, line);
    FsyncWatch watch([this](const std::string& name, bool folder) {
      if (synced(folder ? name + "/" : name) == skipped) return;
      if (folder)
        memory->folder_synced(name);
      else
        memory->file_synced(name);
    });
    return real_disk().append_line(path, header, line);
  }

 private:
  void step() {
    if (memory != nullptr) memory->step();
  }
  int synced(const std::string& name) {
    syncs.push_back(name);
    sync_steps.push_back(memory->steps);
    return static_cast<int>(syncs.size());
  }
  bool hit(Op op) {
    ++calls_[op];
    return op == op_ && nth_ > 0 && (calls_[op] == nth_ || (every_ && calls_[op] > nth_));
  }
  int calls_[kOps] = {};
  Op op_ = kWrite;
  int nth_ = 0;
  int error_ = 0;
  bool every_ = false;
};

// The fakes wired together, with one shared log.
struct FakeOs {
  EventLog log;
  FakeShell shell{&log};
  FakeClock clock{&log};
  FakeConsole console;
  FaultyDisk disk;
  Os os{shell, clock, console, disk};
};

}  // namespace vorcnt::testing
