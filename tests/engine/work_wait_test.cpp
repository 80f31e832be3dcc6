#include "engine/work_wait.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/fakes.h"
#include "support/scratch.h"
#include "support/synced_memory.h"

namespace vorcnt::testing {
namespace {

const std::string kTwoWaiting =
    "vorcnt.nowork 1\nunit=0 since=100 asked=7300 retry_at=14500 pause=7200\n"
    "unit=15 since=200 asked=200 retry_at=3800 pause=3600\nend\n";

// Only what the controller writes is read; anything else is refused whole,
// and no unit waits then.
TEST(WorkWaitFile, ReadsWhatItWritesAndRefusesAnythingElse) {
  WorkWaits waits{};
  std::string why;
  ASSERT_TRUE(parse_work_waits(kTwoWaiting, waits, &why)) << why;
  EXPECT_EQ(waits[0].retry_at, 14500);
  EXPECT_EQ(waits[15].pause, 3600);
  EXPECT_EQ(units_waiting_for_work(waits, 16), 2);
  EXPECT_EQ(units_waiting_for_work(waits, 4), 1);
  EXPECT_EQ(format_work_waits(waits), kTwoWaiting);

  const char* const refused[] = {
      "", "vorcnt.nowork 1\n", "vorcnt.nowork 2\nend\n", "vorcnt.nowork 1\nend",
      "vorcnt.nowork 1\nend\nend\n", "vorcnt.nowork 1\nunit=16 since=1 asked=1 retry_at=2 pause=3600\nend\n",
      "vorcnt.nowork 1\nunit=1 since=0 asked=1 retry_at=2 pause=3600\nend\n",
      "vorcnt.nowork 1\nunit=1 since=1 asked=1 retry_at=2 pause=86401\nend\n",
      "vorcnt.nowork 1\nunit=1 since=1 asked=1 retry_at=2\nend\n",
      "vorcnt.nowork 1\nunit=1 since=1 asked=1 retry_at=2 pause=3600 x\nend\n",
      "vorcnt.nowork 1\nunit=1 since=1 asked=1 retry_at=2 pause=3600\nunit=1 since=1 asked=1 retry_at=2 pause=3600\nend\n",
      "vorcnt.nowork 1\r\nend\r\n"};
  for (const char* text : refused) {
    SCOPED_TRACE(text);
    waits[3].since = 9;
    EXPECT_FALSE(parse_work_waits(text, waits, &why));
    EXPECT_EQ(units_waiting_for_work(waits, 16), 0);
    EXPECT_FALSE(why.empty());
  }
}

TEST(WorkWaitFile, IsWrittenWholeAndNeverThroughALink) {
  ScratchDir dir;
  WorkWaits waits{};
  std::string why;
  EXPECT_EQ(read_work_waits(dir.path().c_str(), waits, &why), WorkWaitRead::none);
  ASSERT_TRUE(parse_work_waits(kTwoWaiting, waits, &why));
  FaultyDisk disk;
  dir.write("vorcnt.nowork.new", "left by a stop");
  ASSERT_TRUE(write_work_waits(disk, dir.path().c_str(), waits).ok());
  EXPECT_EQ(dir.read("vorcnt.nowork"), kTwoWaiting);
  EXPECT_FALSE(dir.exists("vorcnt.nowork.new"));
  WorkWaits again{};
  EXPECT_EQ(read_work_waits(dir.path().c_str(), again, &why), WorkWaitRead::read);
  EXPECT_EQ(format_work_waits(again), kTwoWaiting);

  // A failed sync keeps the file as it was and leaves no temporary.
  disk.fail(FaultyDisk::kSyncFile, disk.calls(FaultyDisk::kSyncFile) + 1, EIO);
  EXPECT_FALSE(write_work_waits(disk, dir.path().c_str(), WorkWaits{}).ok());
  EXPECT_EQ(dir.read("vorcnt.nowork"), kTwoWaiting);
  EXPECT_FALSE(dir.exists("vorcnt.nowork.new"));

  // A link at either name: what it names is never written.
  dir.write("elsewhere", "mine");
  std::filesystem::create_symlink(dir.path() + "elsewhere", dir.path() + "vorcnt.nowork.new");
  EXPECT_FALSE(write_work_waits(disk, dir.path().c_str(), waits).ok());
  EXPECT_EQ(dir.read("elsewhere"), "mine");
  EXPECT_EQ(dir.read("vorcnt.nowork"), kTwoWaiting);
  std::remove((dir.path() + "vorcnt.nowork.new").c_str());
  ASSERT_TRUE(write_work_waits(disk, dir.path().c_str(), waits).ok());
  std::remove((dir.path() + "vorcnt.nowork").c_str());
  std::filesystem::create_symlink(dir.path() + "elsewhere", dir.path() + "vorcnt.nowork");
  const Status s = write_work_waits(disk, dir.path().c_str(), waits);
  EXPECT_EQ(s.reason(), "it is a link");
  EXPECT_EQ(dir.read("elsewhere"), "mine");
  EXPECT_EQ(read_work_waits(dir.path().c_str(), again, &why), WorkWaitRead::unreadable);
  EXPECT_EQ(why, "it is a link");
}

// Once written, the file outlasts a power cut: its bytes are synced before
// the rename, and the folder after it. Without either sync the cut leaves
// an empty file or the old one.
TEST(WorkWaitFile, OutlastsAPowerCutOnlyWithBothSyncs) {
  // By the sync skipped: none, the file's, the folder's.
  const std::string after_cut[] = {"vorcnt.nowork 1\nend\n", "", kTwoWaiting};
  for (int skipped = 0; skipped < 3; ++skipped) {
    ScratchDir dir;
    dir.write("vorcnt.nowork", kTwoWaiting);
    SyncedMemory memory;
    memory.all_synced({dir.path()});
    FaultyDisk disk;
    disk.memory = &memory;
    disk.skipped = skipped;
    ASSERT_TRUE(write_work_waits(disk, dir.path().c_str(), WorkWaits{}).ok());
    memory.drop_unsynced();
    EXPECT_EQ(dir.read("vorcnt.nowork"), after_cut[skipped]) << skipped;
  }
}

}  // namespace
}  // namespace vorcnt::testing
