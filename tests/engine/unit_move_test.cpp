#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <tuple>
#include <ostream>
#include <string>
#include <vector>

#include "app/controller.h"
#include "engine/engine.h"
#include "engine/engine_fixture.h"
#include "engine/interrupted_move.h"
#include "engine/move_record.h"
#include "platform/files.h"

namespace vorcnt::testing {
namespace {

using Fault = CommandWorld::Fault;

class PushPopTest : public EngineTest {};

// Inside a scratch folder "C:\client\" is a real (relative) folder, since a
// backslash separates folders here too: the exact texts run and are checked.
TEST_F(PushPopTest, PushAndPopOfUnit3WithAWindowsPath) {
  ScopedCwd here(P);
  dir.write("C:/client/work_unit.vwu", "work");
  dir.write("C:/client/notes.txt", "stays");
  dir.mkdir("C:/client/unit3");

  EXPECT_TRUE(unitpush(fake.os, 3, "C:\\client\\"));
  EXPECT_EQ(dir.read("C:/client/unit3/work_unit.vwu"), "work");
  EXPECT_FALSE(dir.exists("C:/client/work_unit.vwu"));
  EXPECT_TRUE(dir.exists("C:/client/notes.txt"));

  EXPECT_TRUE(unitpop(fake.os, 3, "C:\\client\\"));
  EXPECT_EQ(fake.log, (EventLog{"run: copy C:\\client\\*.vwu C:\\client\\unit3", "sleep 1", "run: del C:\\client\\*.vwu",
                                "run: copy C:\\client\\unit3\\*.vwu C:\\client", "sleep 1",
                                "run: del C:\\client\\unit3\\*.vwu"}));
  EXPECT_EQ(fake.console.output, "[Unit3] push\n[Unit3] pop\n");
  EXPECT_EQ(dir.read("C:/client/work_unit.vwu"), "work");
  EXPECT_EQ(dir.read("C:/client/outfile.vwu"), "");  // none arrived, so an empty one is made
  EXPECT_FALSE(dir.exists("C:/client/unit3/work_unit.vwu"));
}

TEST_F(PushPopTest, WindowsPathThatIsNotThereKeepsEverything) {
  ScopedCwd here(P);
  EXPECT_FALSE(unitpush(fake.os, 3, "C:\\client\\"));
  EXPECT_FALSE(unitpop(fake.os, 3, "C:\\client\\"));
  // The push runs nothing; the pop's copy runs and, unverified, deletes nothing.
  EXPECT_EQ(fake.log, (EventLog{"run: copy C:\\client\\unit3\\*.vwu C:\\client"}));
  const auto lines = lines_of(fake.console.output);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "[Unit3] push");
  EXPECT_EQ(lines[1], "[Unit3] push failed: unit3 is not a folder, files kept");
  EXPECT_EQ(lines[2], "[Unit3] pop");
  EXPECT_EQ(lines[3], "outfile.vwu not found!");
  EXPECT_NE(lines[4].find("[Unit3] pop failed"), std::string::npos);
}

TEST_F(PushPopTest, EmptyPathActsOnTheCurrentFolder) {
  ScopedCwd here(P);
  dir.write("work_unit.vwu", "work");
  dir.write("outfile.vwu", "out");
  dir.mkdir("unit3");
  EXPECT_TRUE(unitpush(fake.os, 3, ""));
  EXPECT_TRUE(unitpop(fake.os, 3, ""));
  // The pop's copy loses its trailing blank, so it copies into the current folder.
  EXPECT_EQ(fake.log, (EventLog{"run: copy *.vwu unit3", "sleep 1", "run: del *.vwu", "run: copy unit3\\*.vwu", "sleep 1",
                                "run: del unit3\\*.vwu"}));
  EXPECT_EQ(dir.read("work_unit.vwu"), "work");
  EXPECT_EQ(dir.read("outfile.vwu"), "out");  // an arriving output file is not touched
}

// An empty unit folder, and a plain file that the scan counted as one: both
// hold no files, so the pop goes through all its steps.
TEST_F(PushPopTest, PopOfAUnitWithNoFilesCopiesNothingAndStillGoesOn) {
  dir.mkdir("unit0");
  dir.write("unit1", "a plain file");
  for (int unit : {0, 1}) {
    const std::string folder = P + "unit" + std::to_string(unit);
    fake.log.clear();
    std::filesystem::remove(P + "outfile.vwu");
    EXPECT_TRUE(unitpop(fake.os, unit, ctx.path)) << unit;
    EXPECT_EQ(fake.log, (EventLog{"run: copy " + folder + "\\*.vwu " + P.substr(0, P.size() - 1), "sleep 1",
                                  "run: del " + folder + "\\*.vwu"}));
    EXPECT_EQ(dir.read("outfile.vwu"), "");
  }
  EXPECT_EQ(fake.console.output, "[Unit0] pop\n[Unit1] pop\n");
  EXPECT_EQ(dir.read("unit1"), "a plain file");
}

TEST_F(PushPopTest, NoUnitIsNeverAFolder) {
  lay("", Data_Calculation_completion);
  for (int unit : {NO_UNIT, kMaxUnits, -1}) {
    EXPECT_FALSE(unitpush(fake.os, unit, ctx.path));
    EXPECT_FALSE(unitpop(fake.os, unit, ctx.path));
  }
  EXPECT_TRUE(fake.log.empty());
  EXPECT_EQ(lines_of(fake.console.output).size(), 6u);
  EXPECT_EQ(dir.read("result.vwu"), "result ");
}

struct FaultRow {
  const char* name;
  Fault fault;
  bool unit_is_a_file = false;
  bool stale_copies = false;  // the destination already holds same-size files
  bool copied = false;        // the copy succeeds and the delete is what fails
  friend void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.name; }
};

void copy_files(const std::string& from, const std::string& to) {
  for (const auto& entry : std::filesystem::directory_iterator(from))
    if (entry.is_regular_file()) std::filesystem::copy_file(entry.path(), to + "/" + entry.path().filename().string());
}

constexpr FaultRow kFaultRows[] = {{"CopyFails", Fault::copy_fails},
                                    {"CopyFailsOverSameSizeFiles", Fault::copy_fails, false, true},
                                    {"PartialCopy", Fault::copy_first_only},
                                    {"TruncatedCopy", Fault::copy_truncates},
                                    {"ZeroFilledCopyOfTheRightSize", Fault::copy_zero_fills},
                                    {"SameSizeOtherBytes", Fault::copy_flips_a_byte},
                                    {"DestinationVanished", Fault::destination_vanishes},
                                    {"UnitIsAPlainFile", Fault::none, true},
                                    {"DeleteFails", Fault::delete_fails, false, false, true},
                                    {"DeleteTakesOneFile", Fault::delete_first_only, false, false, true}};

// Each fault in a push of the client folder into unit2 and in a pop of unit1:
// the files being moved stay whole where they were, and no copy is left.
struct MoveFault {
  FaultRow row;
  bool push;
  friend void PrintTo(const MoveFault& f, std::ostream* out) { *out << (f.push ? "push " : "pop ") << f.row.name; }
};

std::vector<MoveFault> move_faults() {
  std::vector<MoveFault> out;
  for (const FaultRow& row : kFaultRows) {
    out.push_back({row, true});
    // A pop's destination, the client folder, is never a plain file and does not vanish.
    if (!row.unit_is_a_file && row.fault != Fault::destination_vanishes) out.push_back({row, false});
  }
  return out;
}

class MoveFaultTest : public EngineTest, public ::testing::WithParamInterface<MoveFault> {};

TEST_P(MoveFaultTest, KeepsTheFilesItMoves) {
  const auto& [row, push] = GetParam();
  const std::string from = push ? "" : "unit1/";
  const std::string to = push ? P + "unit2" : P.substr(0, P.size() - 1);
  lay(push ? "" : "unit1", Data_Calculation_completion);
  if (row.unit_is_a_file)
    dir.write("unit2", "a plain file");
  else if (push)
    dir.mkdir("unit2");
  if (row.stale_copies) copy_files(P + from, to);
  world.fault = row.fault;

  EXPECT_FALSE(push ? unitpush(fake.os, 2, ctx.path) : unitpop(fake.os, 1, ctx.path));
  const std::string source = P + (push ? "" : "unit1\\") + "*.vwu";
  const std::string copy = "run: copy " + source + " " + to;
  // A failed delete sends the copies away again, so the unit is never in two
  // places; any other fault stops at the copy: no pause, no delete.
  EXPECT_EQ(fake.log, (row.unit_is_a_file ? EventLog{}
                       : row.copied       ? EventLog{copy, "sleep 1", "run: del " + source}
                                          : EventLog{copy}));
  // After a pop that leaves nothing, not even its empty output file, the client cannot start on half a unit.
  if (row.copied) {
    EXPECT_TRUE(vwu_names(push ? to : P).empty());
  }
  EXPECT_EQ(dir.read(from + "result.vwu"), push ? "result " : "result unit1");
  EXPECT_EQ(dir.read(from + "state.vwu"), "prog=0.5\n");
  EXPECT_EQ(dir.read(from + "version.vwu"), "v");
  const auto lines = lines_of(fake.console.output);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].rfind(push ? "[Unit2] push failed" : "[Unit1] pop failed", 0), 0u) << lines[1];
}

// A source folder that cannot be listed after the delete may still hold
// files: the move is undone as far as it can be, and its copies are kept.
TEST_F(PushPopTest, ASourceFolderUnlistedAfterTheDeleteKeepsTheCopies) {
  lay("unit1", Data_Calculation_completion);
  world.fault = Fault::delete_then_unlisted;
  EXPECT_FALSE(unitpop(fake.os, 1, ctx.path));
  EXPECT_EQ(dir.read("result.vwu"), "result unit1");
  EXPECT_EQ(dir.read("state.vwu"), "prog=0.5\n");
  EXPECT_NE(fake.console.output.find("pop failed: cannot read the folder " + P + "unit1\\, and the copies could not all"),
            std::string::npos)
      << fake.console.output;
  EXPECT_FALSE(dir.read(kMoveRecordName).empty());  // the next start settles the move from it
}

INSTANTIATE_TEST_SUITE_P(Faults, MoveFaultTest, ::testing::ValuesIn(move_faults()), [](const auto& p) {
  return std::string(p.param.push ? "Push" : "Pop") + p.param.row.name;
});

// The "*.vwu" files of `folder` ("" or "unit0/"), but for an empty output
// file, which a pop makes when none comes and which carries nothing.
Files unit_files(const EngineWorld& w, const std::string& folder) {
  Files out;
  for (const std::string& name : vwu_names(w.P + folder)) {
    const std::string text = w.dir.read(folder + name);
    if (!(name == "outfile.vwu" && text.empty())) out[name] = text;
  }
  return out;
}

// Any call of a push or a pop to the disk can fail: the Nth write (half
// written, as on a full disk), sync, rename or removal. Whatever fails, no
// byte of the unit is lost, and the next start on a healthy disk leaves it
// whole in exactly one place, with no record behind.
TEST(DiskFaultTest, EveryFailingCallLosesNothingAndTheRestartPutsItRight) {
  static const char kBinary[] = "id=1\0\0\x01\xff binary";
  const Files set = {{"result.vwu", std::string(kBinary, sizeof kBinary - 1)},
                     {"state.vwu", "prog=1.000000\n"},
                     {"version.vwu", "v"}};
  const auto lay_move = [&](EngineWorld& w, bool push) {
    w.dir.mkdir("unit0");
    w.put(push ? "" : "unit0/", set);
    w.ctx.mode = Mode_calc;
  };
  const auto move = [](EngineWorld& w, bool push) {
    return push ? unitpush(w.fake.os, 0, w.ctx.path) : unitpop(w.fake.os, 0, w.ctx.path);
  };
  for (const bool push : {true, false}) {
    EngineWorld clean;
    lay_move(clean, push);
    ASSERT_TRUE(move(clean, push));
    for (int op = 0; op < FaultyDisk::kOps; ++op) {
      for (int nth = 1; nth <= clean.fake.disk.calls(static_cast<FaultyDisk::Op>(op)); ++nth) {
        SCOPED_TRACE(std::string(push ? "push" : "pop") + ", op " + std::to_string(op) + ", call " + std::to_string(nth));
        EngineWorld w;
        lay_move(w, push);
        w.fake.disk.fail(static_cast<FaultyDisk::Op>(op), nth, op == FaultyDisk::kWrite ? ENOSPC : EIO);
        const bool moved = move(w, push);
        const Files client = unit_files(w, "");
        const Files unit = unit_files(w, "unit0/");
        for (const auto& [name, text] : set) {
          const bool in_client = client.count(name) != 0 && client.at(name) == text;
          const bool in_unit = unit.count(name) != 0 && unit.at(name) == text;
          EXPECT_TRUE(in_client || in_unit) << name << " was lost";
        }
        if (moved) {
          EXPECT_EQ(push ? unit : client, set);
        }
        // The move's own line, and one that says what failed.
        EXPECT_EQ(lines_of(w.fake.console.output).size(), 2u) << w.fake.console.output;

        w.fake.disk.heal();
        w.fake.console.output.clear();
        w.ctx = ControllerContext{};
        w.set_path(w.P);
        w.ctx.mode = Mode_calc;
        unitscan(w.fake.os, w.ctx);
        EXPECT_NE(w.ctx.vorcnt_state, Vorcnt_error) << w.fake.console.output;
        EXPECT_EQ(unit_files(w, ""), set) << w.fake.console.output;
        EXPECT_TRUE(unit_files(w, "unit0/").empty());
        EXPECT_TRUE(!w.dir.exists(kMoveRecordName) || w.dir.read(kMoveRecordName).empty());
        EXPECT_FALSE(w.dir.exists("damaged"));
      }
    }
  }
}

// A move whose copies cannot be taken back (every removal fails) keeps its
// record: the next start has no other way to tell a copy cut short from a
// unit's own file. Healed, that start leaves the unit whole in one place.
TEST(DiskFaultTest, CopiesThatCannotBeTakenBackKeepTheRecord) {
  const Files set = {{"result.vwu", "id=1\nresult"}, {"state.vwu", "prog=1.000000\n"}, {"version.vwu", "v"}};
  for (const Fault fault : {Fault::copy_truncates, Fault::delete_first_only}) {
    for (const bool push : {true, false}) {
      SCOPED_TRACE(std::string(push ? "push, " : "pop, ") + (fault == Fault::copy_truncates ? "torn copy" : "delete"));
      EngineWorld w;
      w.dir.mkdir("unit0");
      w.put(push ? "" : "unit0/", set);
      w.world.fault = fault;
      w.fake.disk.fail_from(FaultyDisk::kRemove, 1, EIO);
      EXPECT_FALSE(push ? unitpush(w.fake.os, 0, w.ctx.path) : unitpop(w.fake.os, 0, w.ctx.path));
      EXPECT_FALSE(w.dir.read(kMoveRecordName).empty());

      w.fake.disk.heal();
      w.world.fault = Fault::none;
      w.ctx = ControllerContext{};
      w.set_path(w.P);
      w.ctx.mode = Mode_calc;
      unitscan(w.fake.os, w.ctx);
      const Files client = unit_files(w, ""), unit = unit_files(w, "unit0/");
      EXPECT_TRUE((client == set && unit.empty()) || (unit == set && client.empty())) << w.fake.console.output;
      EXPECT_TRUE(w.dir.read(kMoveRecordName).empty());
    }
  }
}

// A power cut at each step of a move: every disk call and every command of
// the second of two moves, with sync number `skipped` of that move (1 up; 0
// none) not reaching the disk. The first move leaves its record on the disk,
// as a move does (emptied, but not synced): A is popped from unit0 and B,
// which the client made of it, pushed into unit1; or A is pushed into unit0
// and B popped from unit1. `fresh`: the client's B never synced.
struct CutRun {
  std::string failure;             // what the first cut that lost a unit, or stopped the start, left
  std::vector<std::string> syncs;  // what each sync of the move named, a folder ending in '/'
  std::vector<int> steps;          // the step each sync was
};

// `from`: the step of the skipped sync; earlier cuts cannot tell it.
CutRun cut_at_every_step(bool push, bool fresh, int skipped, int from = 1) {
  const Files a = {{"state.vwu", "prog=0.000000\n"}, {"version.vwu", "v"}, {"work_unit.vwu", "id=7\ndata"}};
  const Files b = {{"result.vwu", "id=8\ndigest=11ee\n"}, {"state.vwu", "prog=0.250000\n"}, {"version.vwu", "w"}};
  CutRun run;
  for (int cut = from;; ++cut) {
    EngineWorld w;
    SyncedMemory memory;
    w.dir.mkdir("unit0");
    w.dir.mkdir("unit1");
    w.put(push ? "unit0/" : "", a);
    if (!push) w.put("unit1/", b);
    w.ctx.mode = Mode_calc;
    memory.all_synced({w.P, w.P + "unit0", w.P + "unit1"});
    w.fake.disk.memory = &memory;
    w.fake.shell.effect = [&](const std::string& line) {
      memory.step();
      return w.world(line);
    };
    EXPECT_TRUE(push ? unitpop(w.fake.os, 0, w.ctx.path) : unitpush(w.fake.os, 0, w.ctx.path));
    if (push) {  // the client computes: a new result, files rewritten in place, the work unit gone
      w.put("", b);
      std::filesystem::remove(w.P + "work_unit.vwu");
    }
    for (const auto& [name, text] : b)
      if (push && !fresh) memory.file_synced(w.P + name);
    if (push && !fresh) memory.folder_synced(w.P);  // but not the record: its emptying stays unsynced
    memory.steps = 0;
    memory.cut_at = cut;
    w.fake.disk.syncs.clear();
    w.fake.disk.sync_steps.clear();
    w.fake.disk.skipped = skipped;
    bool cut_fell = false;
    try {
      (void)(push ? unitpush(w.fake.os, 1, w.ctx.path) : unitpop(w.fake.os, 1, w.ctx.path));
    } catch (const PowerCut&) {
      cut_fell = true;
    }
    if (!cut_fell) std::tie(run.syncs, run.steps) = std::tie(w.fake.disk.syncs, w.fake.disk.sync_steps);
    memory.drop_unsynced();
    memory.cut_at = 0;
    w.fake.console.output.clear();
    w.ctx = ControllerContext{};
    w.set_path(w.P);
    w.given_units(Mode_calc, {Data_Calculation_wait, Data_Calculation_wait});
    unitscan(w.fake.os, w.ctx);
    // Each folder holds one whole set or none; A and B are each in one
    // place (A is gone once B is made of it). What the client had not
    // synced is its own loss: B has then only to be whole wherever it went.
    int as = 0, bs = 0, broken = 0;
    for (const char* folder : {"", "unit0/", "unit1/"}) {
      const Files held = unit_files(w, folder);
      as += held == a;
      bs += held == b;
      broken += !held.empty() && held != a && held != b;
    }
    const Files moved = unit_files(w, "unit1/");
    const bool whole = fresh ? moved.empty() || (moved == b && unit_files(w, "").empty())
                             : broken == 0 && bs == 1 && as == (push ? 0 : 1);
    const bool record_gone = !w.dir.exists(kMoveRecordName) || w.dir.read(kMoveRecordName).empty();
    if (run.failure.empty() && (w.ctx.vorcnt_state == Vorcnt_error || !whole || !record_gone))
      run.failure = "cut before step " + std::to_string(cut) + (record_gone ? "" : ", a record left") + ": " +
                    w.fake.console.output;
    if (!cut_fell) return run;
  }
}

// The syncs of a push, in order: 1-4 the sources (the pop's empty output
// file, result, state, version), 5 the client folder, 6 the record, 7-10 the
// copies, 11 unit1, 12 the client folder after the delete. Of a pop: 1 the
// record, 2-4 the copies, 5 the client folder, 6 unit1 after the delete.
struct SyncNeed {
  bool push, fresh;
  int sync;
  bool needed;  // a cut somewhere loses a unit or stops the next start without it
};
constexpr SyncNeed kSyncNeeds[] = {
    {true, false, 6, true},   {true, false, 8, true},   {true, false, 9, true},  {true, false, 10, true},
    {true, false, 11, true},  {true, true , 2, true},  {true, true , 3, true}, {true, true , 4, true},
    {true, true , 5, true},  {false, false, 1, true},  {false, false, 2, true}, {false, false, 3, true},
    {false, false, 4, true},  {false, false, 5, true},
    // An empty file holds nothing to lose.
    {true, true , 1, false}, {true, false, 7, false},
    // The record's emptying is not synced either, so it outlives the
    // delete it follows: the next start finishes the move again.
    {true, false, 12, false}, {false, false, 6, false}};

TEST(PowerCutTest, EverySyncOfAMoveIsNeeded) {
  set_durable_writes(false);  // the memory stands for the disk
  std::map<std::pair<bool, bool>, CutRun> with_all;
  for (const auto& [push, fresh] : {std::pair{true, false}, std::pair{true, true}, std::pair{false, false}}) {
    const CutRun& all = with_all[{push, fresh}] = cut_at_every_step(push, fresh, 0);
    EXPECT_EQ(all.failure, "") << push << fresh;
    EXPECT_EQ(all.syncs.size(), push ? 12u : 6u);
  }
  for (const SyncNeed& row : kSyncNeeds) {
    const CutRun& all = with_all[{row.push, row.fresh}];
    const CutRun without = cut_at_every_step(row.push, row.fresh, row.sync, all.steps.at(row.sync - 1));
    EXPECT_EQ(!without.failure.empty(), row.needed)
        << (row.push ? "push" : "pop") << (row.fresh ? " fresh" : "") << ", without sync " << row.sync << " of "
        << all.syncs.at(row.sync - 1) << ": " << without.failure;
  }
  set_durable_writes(true);
}

class SwapTest : public EngineTest {
 protected:
  SwapTest() {
    given_units(Mode_calc, {Data_Calculation_wait, Data_Calculation_wait});
    ctx.calculation_unit = 0;
    ctx.vorcnt_state = Vorcon_CalcCompletion;
    lay("", Data_Calculation_completion);
    dir.mkdir("unit0");
    lay("unit1", Data_Calculation_wait);
  }
};

TEST_F(SwapTest, PushesSelectsAndPops) {
  ctx.unit_state[0] = Data_Calculation_completion;
  unitswap(fake.os, ctx);
  EXPECT_EQ(ctx.calculation_unit, 1);
  EXPECT_EQ(ctx.vorcnt_state, Vorcon_CalcWait);
  EXPECT_EQ(fake.log, (EventLog{"run: copy " + P + "*.vwu " + P + "unit0", "sleep 1", "run: del " + P + "*.vwu",
                                "run: copy " + P + "unit1\\*.vwu " + P.substr(0, P.size() - 1), "sleep 1",
                                "run: del " + P + "unit1\\*.vwu"}));
  EXPECT_EQ(dir.read("unit0/result.vwu"), "result ");
  EXPECT_EQ(dir.read("work_unit.vwu"), "work unit1");
  EXPECT_FALSE(dir.exists("result.vwu"));
}

TEST_F(SwapTest, FailedPushChangesNothingSoALaterPassRetriesQuietly) {
  world.fault = Fault::copy_fails;
  ctx.time = 600;
  for (int pass = 0; pass < 3; ++pass) EXPECT_TRUE(loop_pass(fake.os, ctx));
  EXPECT_EQ(ctx.calculation_unit, 0);
  EXPECT_EQ(ctx.vorcnt_state, Vorcon_CalcCompletion);
  EXPECT_EQ(ctx.mode, Mode_calc);
  EXPECT_EQ(fake.shell.commands_ran.size(), 3u);  // one copy per pass
  EXPECT_EQ(fake.clock.pauses, (std::vector<int>{600, 600, 600}));
  EXPECT_EQ(fake.console.output.find("unitselect"), std::string::npos);
  EXPECT_TRUE(dir.exists("unit1/work_unit.vwu"));
  // The failure once, however many retries: the retries that fail the same
  // way say nothing, and the interpreter is told to be quiet for them.
  const std::string failed_once = fake.console.output;
  EXPECT_EQ(lines_of(failed_once).size(), 3u) << failed_once;
  EXPECT_EQ(lines_of(failed_once)[1], "[Unit0] push");
  EXPECT_EQ(lines_of(failed_once)[2].rfind("[Unit0] push failed: ", 0), 0u);
  EXPECT_EQ(fake.shell.quiet_commands, 2);

  // The pass that clears it brings the step lines back.
  world.fault = Fault::none;
  EXPECT_TRUE(loop_pass(fake.os, ctx));
  EXPECT_EQ(fake.console.output.substr(failed_once.size()).rfind(lines_of(failed_once)[0] +
                                                                    "\n[Unit0] push\n[Unit0] push: the earlier failure has cleared\n",
                                                                    0),
            0u)
      << fake.console.output;
  EXPECT_EQ(ctx.calculation_unit, 1);
  EXPECT_EQ(fake.clock.pauses.back(), 5);
}

TEST_F(SwapTest, AFailedPopHoldsTheClientBackUntilARetryCompletesIt) {
  // unit1's files cannot be copied out: the client folder must stay empty
  // and the client unstarted, pass after pass, until they can.
  bool broken = true;
  fake.shell.effect = [&](const std::string& line) {
    if (broken && line.rfind("copy " + P + "unit1\\", 0) == 0) return 1;
    return world(line);
  };
  ctx.time = 300;
  EXPECT_TRUE(loop_pass(fake.os, ctx));  // the swap: pushed, unit1 chosen, its pop failed
  EXPECT_TRUE(ctx.pop_pending);
  EXPECT_EQ(ctx.calculation_unit, 1);
  EXPECT_EQ(fake.clock.pauses.back(), 300);
  for (int pass = 0; pass < 2; ++pass) EXPECT_TRUE(loop_pass(fake.os, ctx));
  EXPECT_EQ(fake.clock.pauses.back(), 300);
  for (const std::string& command : fake.shell.commands_ran) EXPECT_EQ(command.find("Vorelith.exe"), std::string::npos);
  EXPECT_TRUE(vwu_names(P).empty());
  const auto lines = lines_of(fake.console.output);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](auto& l) { return l.find("pop failed") != l.npos; }), 1);

  broken = false;
  EXPECT_TRUE(loop_pass(fake.os, ctx));
  EXPECT_FALSE(ctx.pop_pending);
  EXPECT_NE(fake.console.output.find("[Unit1] pop: the earlier failure has cleared\n"), std::string::npos);
  EXPECT_EQ(fake.shell.commands_ran.back(), "vorclose -close -echo off");  // the client was started on it
  EXPECT_EQ(ctx.vorcnt_state, Vorcon_Calc);
  EXPECT_EQ(dir.read("work_unit.vwu"), "work unit1");
  EXPECT_FALSE(dir.exists("unit1/work_unit.vwu"));
}

// Every step that fails and is retried by a later pass: each retry waits
// the pass's full pause and, failing the same way, prints nothing new.
TEST(QuietRetryTest, EachRetryWaitsItsFullPauseAndSaysNothingNew) {
  enum Step { push, pop };
  const struct {
    const char* name;
    Step step;
    void (*brk)(EngineWorld&);
  } rows[] = {
      {"PushCopy", push, [](EngineWorld& w) { w.world.fault = Fault::copy_fails; }},
      {"PopCopy", pop, [](EngineWorld& w) { w.world.fault = Fault::copy_fails; }},
      {"PushRecordWrite", push, [](EngineWorld& w) { w.fake.disk.fail_from(FaultyDisk::kWrite, 1, ENOSPC); }},
      {"PopRecordWrite", pop, [](EngineWorld& w) { w.fake.disk.fail_from(FaultyDisk::kWrite, 1, ENOSPC); }},
      {"PushWithTheJournalUnwritable", push,
       [](EngineWorld& w) {
         w.world.fault = Fault::copy_fails;
         w.dir.write("plain", "a file, not a folder");
         std::snprintf(w.ctx.history, sizeof w.ctx.history, "%splain/journal.tsv", w.P.c_str());
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EngineWorld w;
    w.given_units(Mode_calc, {Data_Calculation_wait, Data_Calculation_wait});
    w.lay("unit1", Data_Calculation_wait);
    w.ctx.time = 600;
    if (row.step == push) {
      w.lay("", Data_Calculation_completion);
      w.dir.mkdir("unit0");
      w.ctx.calculation_unit = 0;
      w.ctx.vorcnt_state = Vorcon_CalcCompletion;
    } else {
      w.ctx.calculation_unit = 1;
      w.ctx.vorcnt_state = Vorcon_CalcWait;
      w.ctx.pop_pending = true;
    }
    row.brk(w);
    EXPECT_TRUE(loop_pass(w.fake.os, w.ctx));
    const std::string first = w.fake.console.output;
    EXPECT_NE(first.find(row.step == push ? "push failed" : "pop failed"), std::string::npos) << first;
    w.fake.clock.pauses.clear();
    for (int pass = 0; pass < 3; ++pass) EXPECT_TRUE(loop_pass(w.fake.os, w.ctx));
    EXPECT_EQ(w.fake.clock.pauses, (std::vector<int>{600, 600, 600}));
    EXPECT_EQ(w.fake.console.output, first);
  }
}

TEST_F(SwapTest, SettingsInErrorPushTheUnitHomeAndEnd) {
  ctx.mode = Mode_error;
  unitswap(fake.os, ctx);
  EXPECT_EQ(ctx.vorcnt_state, Vorcnt_error);
  EXPECT_EQ(fake.log.size(), 3u);  // the push only: no selection, no pop
  EXPECT_EQ(dir.read("unit0/result.vwu"), "result ");
  EXPECT_EQ(dir.read("unit1/work_unit.vwu"), "work unit1");
  EXPECT_EQ(lines_of(fake.console.output).back(),
            "[Unit0] is home; the settings are in error, so nothing more is done: correct them and restart");
}

TEST_F(SwapTest, NothingLeftToSelectPopsTheUnitBackBeforeTheEnd) {
  given_units(Mode_calc, {Data_Sending});
  unitswap(fake.os, ctx);
  EXPECT_EQ(ctx.vorcnt_state, Vorcnt_error);
  EXPECT_EQ(ctx.calculation_unit, 0);
  EXPECT_EQ(fake.log.size(), 6u);  // copy, pause, delete of the push, then of the pop
  EXPECT_EQ(lines_of(fake.console.output).back(), "[Unit0] pop");
  EXPECT_EQ(dir.read("result.vwu"), "result ");
  EXPECT_FALSE(dir.exists("unit0/result.vwu"));
}

}  // namespace
}  // namespace vorcnt::testing
