// The unit journal: its digest, its lines, and what a journal that cannot be
// written costs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "engine/history.h"
#include "engine/digest.h"
#include "support/fakes.h"
#include "support/scratch.h"

namespace vorcnt {
namespace {

using testing::FakeOs;
using testing::ScratchDir;

// Records on disk name files by this digest, so it must never drift between
// versions; and a file read in blocks must digest as its bytes do.
TEST(Digest, FixedAlgorithmAndBlockwiseFileReads) {
  EXPECT_EQ(digest_of("").hex(), "99aa06d3014798d86001c324468d497f");
  EXPECT_EQ(digest_of("abc").hex(), "06b05ab6733a618578af5f94892f3950");
  Digest back;
  EXPECT_TRUE(Digest::from_hex(digest_of("abc").hex(), &back));
  EXPECT_EQ(back, digest_of("abc"));
  for (const char* bad : {"", "06b05ab6733a618578af5f94892f395", "06B05AB6733A618578AF5F94892F3950",
                          "06b05ab6733a618578af5f94892f3950 ", "g6b05ab6733a618578af5f94892f3950"})
    EXPECT_FALSE(Digest::from_hex(bad, &back)) << bad;

  ScratchDir dir;
  std::string big(300000, '\0');
  for (std::size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>(i);
  dir.write("big.vwu", big);
  Digest d;
  std::uintmax_t size = 0;
  int error = 0;
  ASSERT_TRUE(digest_file(dir.path() + "big.vwu", &d, &size, &error));
  EXPECT_EQ(d, digest_of(big));
  EXPECT_EQ(size, big.size());
  EXPECT_FALSE(digest_file(dir.path() + "missing.vwu", &d, &size, &error));
  EXPECT_EQ(error, ENOENT);
}

class Journal : public ::testing::Test {
 protected:
  Journal() {
    std::snprintf(ctx.path, sizeof ctx.path, "%s", dir.path().c_str());
    std::snprintf(ctx.history, sizeof ctx.history, "%s", (dir.path() + "h.tsv").c_str());
    fake.clock.wall_start = 1765112400;  // 2025-12-07 13:00:00 UTC
    fake.clock.offset_at = [](std::int64_t) { return 9 * 3600; };
  }
  ScratchDir dir;
  FakeOs fake;
  ControllerContext ctx;
};

TEST_F(Journal, OneTabSeparatedLinePerEventUnderOneHeader) {
  dir.write("work_unit.vwu", "wu");
  record_event(fake.os, ctx, UnitEvent::pop_compute, 3, ctx.path);
  dir.write("result.vwu", "res");  // once computed, the result names the unit
  record_event(fake.os, ctx, UnitEvent::computed, 3, ctx.path, "progress=100.000000 cpu=12.0");
  record_event(fake.os, ctx, UnitEvent::no_work, NO_UNIT, {});
  EXPECT_EQ(dir.read("h.tsv"),
            std::string(kJournalHeader) + "2025-12-07T22:00:00+09:00\t3\tpop_compute\t" + digest_of("wu").hex().substr(0, 12) +
                "\t\n" + "2025-12-07T22:00:00+09:00\t3\tcomputed\t" + digest_of("res").hex().substr(0, 12) +
                "\tprogress=100.000000 cpu=12.0\n" + "2025-12-07T22:00:00+09:00\t-\tno_work\t-\t\n");
  EXPECT_EQ(fake.console.output, "");
}

TEST_F(Journal, ATornLastLineIsNotGluedToTheNext) {
  dir.write("h.tsv", std::string(kJournalHeader) + "2025-12-07T2");
  record_event(fake.os, ctx, UnitEvent::fill_complete, NO_UNIT, {});
  EXPECT_EQ(dir.read("h.tsv"),
            std::string(kJournalHeader) + "2025-12-07T2\n2025-12-07T22:00:00+09:00\t-\tfill_complete\t-\t\n");
}

TEST_F(Journal, AFaultCostsOneLineWhenItBeginsAndOneWhenItClears) {
  std::snprintf(ctx.history, sizeof ctx.history, "%s", (dir.path() + "gone/h.tsv").c_str());
  for (int i = 0; i < 3; ++i) record_event(fake.os, ctx, UnitEvent::no_work, NO_UNIT, {});
  const std::string name = dir.path() + "gone/h.tsv";
  EXPECT_EQ(fake.console.output.rfind("history: cannot write " + name + " (", 0), 0u) << fake.console.output;
  EXPECT_EQ(fake.console.output.find('\n'), fake.console.output.size() - 1);  // one line

  dir.mkdir("gone");
  fake.console.output.clear();
  record_event(fake.os, ctx, UnitEvent::no_work, NO_UNIT, {});
  record_event(fake.os, ctx, UnitEvent::no_work, NO_UNIT, {});
  EXPECT_EQ(fake.console.output, "history: " + name + " is written again\n");
  EXPECT_EQ(dir.read("gone/h.tsv").rfind(kJournalHeader, 0), 0u);

  // A journal name taken by a pipe is refused, never written into or waited on.
  const std::string pipe = dir.path() + "pipe.tsv";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
  std::snprintf(ctx.history, sizeof ctx.history, "%s", pipe.c_str());
  fake.console.output.clear();
  record_event(fake.os, ctx, UnitEvent::no_work, NO_UNIT, {});
  EXPECT_EQ(fake.console.output,
            "history: cannot write " + pipe + " (not a regular file); the buffer goes on without it\n");
}

// A power cut right after an event is journaled keeps its line, on a new
// journal and an old one; without the line's sync, or on a new journal its
// folder's, the line is lost.
TEST_F(Journal, APowerCutAfterAnEventKeepsItsLineOnlyWithBothSyncs) {
  const struct {
    bool fresh;
    int skipped;  // 1: the line's sync, 2: the new journal's folder
    bool kept;
  } rows[] = {{true, 0, true}, {true, 1, false}, {true, 2, false}, {false, 0, true}, {false, 1, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.fresh) + " " + std::to_string(row.skipped));
    std::remove(ctx.history);
    if (!row.fresh) record_event(fake.os, ctx, UnitEvent::fill_complete, NO_UNIT, {});
    testing::SyncedMemory memory;
    memory.all_synced({dir.path()});
    fake.disk.memory = &memory;
    fake.disk.syncs.clear();
    fake.disk.skipped = row.skipped;
    record_event(fake.os, ctx, UnitEvent::no_work, NO_UNIT, {});
    memory.drop_unsynced();
    fake.disk.memory = nullptr;
    EXPECT_EQ(dir.exists("h.tsv") && dir.read("h.tsv").find("no_work") != std::string::npos, row.kept);
  }
}

// A computed unit's line: the state file's figures where they are credible,
// and the wall-clock time the client computed it, counted on the pause clock
// from the first calc_start after this run popped it (a stall restart starts
// the client again on the same computation); none for a unit this run did not
// see begin. Events come 600 s apart.
TEST_F(Journal, AComputedLineTimesOnlyWhatThisRunSawBeginAndDropsWhatNoneCanHave) {
  using E = UnitEvent;
  const struct {
    const char* name;
    std::vector<UnitEvent> before;
    const char* state;
    const char* detail;
  } rows[] = {
      {"popped_here", {E::pop_compute, E::calc_start}, "prog=1\ncpu=3000.5\n", "progress=100.000000 cpu=3000.5 wall=600.0"},
      {"stall_restart", {E::pop_compute, E::calc_start, E::restarted, E::calc_start}, "prog=1\n", "progress=100.000000 cpu=0.0 wall=1800.0"},
      {"begun_before_this_run", {E::calc_start}, "prog=1\ncpu=3000.5\n", "progress=100.000000 cpu=3000.5"},
      {"finished_before_this_run", {}, "prog=1\ncpu=3000.5\n", "progress=100.000000 cpu=3000.5"},
      {"huge", {E::pop_compute, E::calc_start}, "prog=1e999\ncpu=1e308\n", "wall=600.0"},
      {"negative", {E::pop_compute, E::calc_start}, "prog=-0.5\ncpu=-5\n", "wall=600.0"},
      {"over_whole_and_over_a_year", {E::pop_compute, E::calc_start}, "prog=2\ncpu=31622401\n", "wall=600.0"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::remove(ctx.history);
    ctx.compute_watch = ComputeWatch{};
    ctx.calculation_unit = 1;
    dir.write("version.vwu", "");
    dir.write("state.vwu", row.state);
    for (const UnitEvent e : row.before) {
      record_event(fake.os, ctx, e, 1, ctx.path);
      fake.clock.sleep_seconds(600);
    }
    record_computed(fake.os, ctx);
    const std::string text = dir.read("h.tsv");
    EXPECT_TRUE(text.ends_with("\tcomputed\t-\t" + std::string(row.detail) + "\n")) << text;
  }
}

TEST_F(Journal, AFailedMoveIsRecordedOnceUntilAMoveSucceeds) {
  record_move_outcome(fake.os, ctx, false, JournaledMove::push, 1);
  record_move_outcome(fake.os, ctx, false, JournaledMove::push, 1);
  record_move_outcome(fake.os, ctx, true, JournaledMove::push, 1);
  record_move_outcome(fake.os, ctx, true, JournaledMove::pop, 2);
  const std::string text = dir.read("h.tsv");
  EXPECT_NE(text.find("\t1\tmove_failed\t-\tpush\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\t1\tmove_cleared\t-\tpush\n"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);

  // A failed pop left the unit in its folder, where its line finds it; the
  // copies an interrupted move left are named by the client folder.
  dir.mkdir("unit2");
  dir.write("unit2/work_unit.vwu", "abc");
  dir.write("work_unit.vwu", "other");
  record_move_outcome(fake.os, ctx, false, JournaledMove::pop, 2);
  record_move_outcome(fake.os, ctx, true, JournaledMove::pop, 2);
  dir.write("unit2/work_unit.vwu", "other");
  dir.write("work_unit.vwu", "abc");
  record_move_outcome(fake.os, ctx, false, JournaledMove::remove_copies, 2);
  const std::string more = dir.read("h.tsv").substr(text.size());
  const std::string abc = digest_of("abc").hex().substr(0, 12);
  EXPECT_EQ(std::count(more.begin(), more.end(), '\n'), 3) << more;
  EXPECT_NE(more.find("\t2\tmove_failed\t" + abc + "\tpop\n"), std::string::npos) << more;
  EXPECT_NE(more.find("\t2\tmove_failed\t" + abc + "\tdel\n"), std::string::npos) << more;
}

}  // namespace
}  // namespace vorcnt
