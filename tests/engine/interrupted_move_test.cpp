// A stop can fall anywhere in a push or a pop. For every place it can fall,
// the start-up scan must leave each work unit whole in exactly one folder,
// and with a home of its own when it is in the client folder.
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/engine_fixture.h"
#include "engine/interrupted_move.h"
#include "engine/move_record.h"
#include "platform/files.h"

namespace vorcnt::testing {
namespace {

namespace fs = std::filesystem;

// Every unit carries the same version and user-info files.
const std::string kVersion = "client=Vorelith\nversion=0.6\n";
const std::string kUserInfo = "id=4711\nname=Vorelith Simulator\n";

Files fresh_set(const std::string& id) {
  return {{"user_info.vwu", kUserInfo}, {"version.vwu", kVersion}, {"work_unit.vwu", "id=" + id + "\ndata of " + id}};
}

// What a push carries after a computation: the pop's empty output file, the
// result and the state file; the client removed the work unit.
Files computed_set(const std::string& id) {
  return {{"outfile.vwu", ""},
          {"result.vwu", "id=" + id + "\ndigest=00ff\n"},
          {"state.vwu", "prog=1.000000\ncpu=300\n"},
          {"user_info.vwu", kUserInfo},
          {"version.vwu", kVersion}};
}

// The first `n` files of `set`, in the order the copy and delete take them.
Files first(const Files& set, std::size_t n) {
  Files out;
  for (const auto& [name, text] : set)
    if (out.size() < n) out[name] = text;
  return out;
}

Files without_first(const Files& set, std::size_t n) {
  Files out;
  std::size_t i = 0;
  for (const auto& [name, text] : set)
    if (i++ >= n) out[name] = text;
  return out;
}

// The first `n` files, and the next one cut in half: a copy that writes in
// place, stopped in the middle of a file.
Files torn(const Files& set, std::size_t n) {
  Files out = first(set, n);
  std::size_t i = 0;
  for (const auto& [name, text] : set)
    if (i++ == n) out[name] = text.substr(0, text.size() / 2);
  return out;
}

// A stop leaves evidence only when the part it left holds (the start of) one
// of the work unit's own files; the files every unit carries prove nothing.
bool has_evidence(const Files& part) {
  for (const char* name : {"work_unit.vwu", "result.vwu", "wtemp.vwu", "state.vwu"})
    if (part.count(name) != 0) return true;
  return false;
}

// The same names with the data a power cut leaves when it falls before the
// copies reached the disk: nothing, or zero bytes of the right length.
Files blanked(const Files& set, bool keep_size) {
  Files out;
  for (const auto& [name, text] : set) out[name] = std::string(keep_size ? text.size() : 0, '\0');
  return out;
}

struct StopPoint {
  std::string name;
  MoveDirection direction;
  Files moving;        // the set the stopped move carried (unit1's work unit)
  Files client;        // what the stop left in the client folder
  Files unit1;         // ... and in unit1
  bool leftover;       // both places hold files of it, evidence among them
  bool exact = true;   // no file cut short or blanked: all a folder without a record can show
};

// Every stop point of a push of `set` into unit1 and of a pop of it out.
std::vector<StopPoint> stop_points(const std::string& label, const Files& set) {
  const MoveDirection push = MoveDirection::push;
  const MoveDirection pop = MoveDirection::pop;
  std::vector<StopPoint> points;
  const std::size_t n = set.size();
  for (std::size_t i = 0; i <= n; ++i)
    points.push_back({label + " push, copied " + std::to_string(i), push, set, set, first(set, i), has_evidence(first(set, i))});
  for (std::size_t i = 0; i < n; ++i)
    points.push_back({label + " push, copied " + std::to_string(i) + " and one torn", push, set, set, torn(set, i),
                      has_evidence(torn(set, i)), false});
  for (std::size_t j = 1; j < n; ++j)
    points.push_back({label + " push, deleted " + std::to_string(j), push, set, without_first(set, j), set,
                      has_evidence(without_first(set, j))});
  // A power cut before the copies reached the disk.
  points.push_back({label + " push, copies never reached the disk", push, set, set, blanked(set, false), false, false});
  points.push_back({label + " push, copies zero-filled", push, set, set, blanked(set, true), false, false});

  Files popped = set;
  popped.emplace("outfile.vwu", "");  // made by the pop when none came
  for (std::size_t i = 1; i <= n; ++i)
    points.push_back({label + " pop, copied " + std::to_string(i), pop, set, first(set, i), set, has_evidence(first(set, i))});
  for (std::size_t i = 0; i < n; ++i)
    points.push_back({label + " pop, copied " + std::to_string(i) + " and one torn", pop, set, torn(set, i), set,
                      has_evidence(torn(set, i)), false});
  points.push_back({label + " pop, copied all, outfile made", pop, set, popped, set, true});
  points.push_back({label + " pop, copies never reached the disk", pop, set, blanked(popped, false), set, false, false});
  points.push_back({label + " pop, copies zero-filled", pop, set, blanked(popped, true), set, false, false});
  for (std::size_t j = 1; j < n; ++j)
    points.push_back({label + " pop, deleted " + std::to_string(j), pop, set, popped, without_first(set, j),
                      has_evidence(without_first(set, j))});
  return points;
}

// The record the stopped move wrote before its copy began.
std::string record_of(const StopPoint& point) {
  MoveRecord record;
  record.direction = point.direction;
  record.unit = 1;
  for (const auto& [name, text] : point.moving) record.files.push_back({name, text.size(), digest_of(text)});
  return format_move_record(record);
}

// True when the destination holds a file of the set with other bytes: a
// copy cut short or never written, which only the record can tell apart.
bool odd_at_destination(const StopPoint& point) {
  const Files& destination = point.direction == MoveDirection::push ? point.unit1 : point.client;
  for (const auto& [name, text] : point.moving) {
    const auto it = destination.find(name);
    if (it != destination.end() && it->second != text) return true;
  }
  return false;
}

// One client folder with the simulated buffer: unit0 waits to be computed,
// unit1 is the unit whose move was stopped, unit2 holds a result to send.
class StoppedMove : public EngineWorld {
 public:
  StoppedMove(const StopPoint& point, std::int32_t mode, bool recorded) {
    ctx.mode = mode;
    ctx.vorcnt_state = mode == Mode_fill ? Vorcon_CalcCompletion : Vorcon_CalcWait;
    put("", point.client);
    dir.mkdir("unit1");
    put("unit1/", point.unit1);
    put("unit0/", fresh_set("wu1"));
    put("unit2/", computed_set("wu3"));
    if (recorded) dir.write(kMoveRecordName, record_of(point));
    sets_ = {point.moving, fresh_set("wu1"), computed_set("wu3")};
  }

  Files read(const std::string& folder) const {
    Files out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir.path() + folder, ec))
      if (entry.is_regular_file() && entry.path().filename() != kMoveRecordName)
        out[entry.path().filename().string()] = dir.read(folder + entry.path().filename().string());
    return out;
  }

  // The file that tells a set apart: its work unit or its result.
  static std::pair<std::string, std::string> mark(const Files& set) {
    const auto it = set.find("work_unit.vwu");
    if (it != set.end()) return *it;
    return *set.find("result.vwu");
  }

  // Whole, but for an empty output file, which carries nothing and which
  // every pop makes when none comes.
  static bool holds_whole(const Files& folder, const Files& set) {
    for (const auto& [name, text] : set) {
      const auto it = folder.find(name);
      if (it == folder.end() && name == "outfile.vwu" && text.empty()) continue;
      if (it == folder.end() || it->second != text) return false;
    }
    for (const auto& [name, text] : folder)
      if (set.count(name) == 0 && !(name == "outfile.vwu" && text.empty())) return false;
    return true;
  }

  void expect_each_unit_whole_in_one_place() const {
    std::vector<std::string> folders = {""};
    for (int k = 0; k < kMaxUnits && dir.exists("unit" + std::to_string(k)); ++k)
      folders.push_back("unit" + std::to_string(k) + "/");
    for (const Files& set : sets_) {
      const auto [mark_name, mark_text] = mark(set);
      int places = 0;
      for (const std::string& folder : folders) {
        const Files held = read(folder);
        const auto it = held.find(mark_name);
        if (it == held.end() || it->second != mark_text) continue;
        ++places;
        EXPECT_TRUE(holds_whole(held, set)) << mark_text << " is not whole in '" << folder << "'";
        if (folder.empty()) {
          // In the client folder it needs a home that holds nothing else.
          ASSERT_TRUE(is_unit_index(ctx.calculation_unit));
          const Files home = read("unit" + std::to_string(ctx.calculation_unit) + "/");
          for (const Files& other : sets_)
            EXPECT_EQ(home.count(mark(other).first) != 0 && home.at(mark(other).first) == mark(other).second, false)
                << "the home unit" << ctx.calculation_unit << " holds a work unit already";
        }
      }
      EXPECT_EQ(places, 1) << mark_text;
    }
  }


 private:
  std::vector<Files> sets_;
};

const std::string kFinishing = "finishing an interrupted move";

// With the move's record, every stop point is finished or undone by the
// record alone: a copy that is not what the record says is set aside whole.
// Without one (folders an earlier version left), only exact twins are acted
// on, and nothing is ever set aside.
TEST(InterruptedMoveTest, EveryStopPointLeavesEachUnitWholeInOnePlace) {
  std::vector<StopPoint> points = stop_points("computed", computed_set("wu2"));
  for (const StopPoint& p : stop_points("fresh", fresh_set("wu2"))) points.push_back(p);
  for (const bool recorded : {true, false}) {
    for (std::int32_t mode : {Mode_calc, Mode_fill}) {
      for (const StopPoint& point : points) {
        if (!recorded && !point.exact) continue;
        SCOPED_TRACE(point.name + (mode == Mode_fill ? " (fill)" : " (calc)") + (recorded ? "" : " (no record)"));
        StoppedMove move(point, mode, recorded);
        unitscan(move.fake.os, move.ctx);
        move.expect_each_unit_whole_in_one_place();
        EXPECT_NE(move.ctx.vorcnt_state, Vorcnt_error);
        const std::string& out = move.fake.console.output;
        // The scan's own lines come first and are unchanged.
        EXPECT_EQ(out.rfind("[unit0] Dir find : 5\n[unit1] Dir find : ", 0), 0u) << out;
        const char* what = point.direction == MoveDirection::push ? "push" : "pop";
        if (recorded)
          EXPECT_NE(out.find("an interrupted " + std::string(what) + ":"), std::string::npos) << out;
        else
          EXPECT_EQ(out.find(kFinishing) != std::string::npos, point.leftover) << out;
        EXPECT_TRUE(!move.dir.exists(kMoveRecordName) || move.dir.read(kMoveRecordName).empty());
        EXPECT_EQ(move.dir.exists("unit3"), false) << "a new folder was made for copies";
        EXPECT_EQ(move.dir.exists("damaged"), recorded && odd_at_destination(point)) << out;
      }
    }
  }
}

// A power cut at any step of the start that repairs a stopped move, and of
// the pop that may follow it, before any of that reached the disk or after:
// the next start still finds each unit whole in one place. Nothing the
// repair deleted may come back once a later record is on the disk.
TEST(InterruptedMoveTest, APowerCutDuringTheRepairLosesNothing) {
  set_durable_writes(false);  // the memory stands for the disk
  const std::set<std::string> repairs = {"push, copied 1", "push, copied 5", "push, deleted 2", "pop, copied 2",
                                         "pop, copied all, outfile made"};
  std::size_t tried = 0;
  for (const StopPoint& point : stop_points("", computed_set("wu2"))) {
    if (repairs.count(point.name.substr(1)) == 0) continue;
    ++tried;
    for (int cut = 1;; ++cut) {
      SCOPED_TRACE(point.name + ", cut before step " + std::to_string(cut));
      StoppedMove move(point, Mode_calc, true);
      SyncedMemory memory;
      memory.all_synced({move.P, move.P + "unit0", move.P + "unit1", move.P + "unit2"});
      move.fake.disk.memory = &memory;
      move.fake.shell.effect = [&](const std::string& line) {
        memory.step();
        return move.world(line);
      };
      memory.cut_at = cut;
      bool cut_fell = false;
      try {
        unitscan(move.fake.os, move.ctx);
      } catch (const PowerCut&) {
        cut_fell = true;
      }
      memory.drop_unsynced();
      memory.cut_at = 0;
      move.ctx = ControllerContext{};
      move.set_path(move.P);
      move.ctx.mode = Mode_calc;
      unitscan(move.fake.os, move.ctx);
      move.expect_each_unit_whole_in_one_place();
      if (!cut_fell || ::testing::Test::HasFailure()) break;
    }
  }
  EXPECT_EQ(tried, repairs.size());
  set_durable_writes(true);
}

class FinishMoveTest : public EngineTest {};

TEST_F(FinishMoveTest, CopiesInTheClientFolderAreDeletedThenTheUnitIsPoppedAgain) {
  put("unit0/", fresh_set("wu1"));
  put("", fresh_set("wu1"));
  dir.write("outfile.vwu", "");
  unitscan(fake.os, ctx);
  EXPECT_EQ(fake.console.output,
            "[unit0] Dir find : 5\n[Unit0] finishing an interrupted move: the client folder holds copies of unit0's files, "
            "removing them\n[unitselect State_Data_Calculation]\n[Unit0]:" +
                kWaitingToCompute + "\n[Unit0] pop\n");
  EXPECT_EQ(fake.log, (EventLog{"run: del " + P + "*.vwu", "run: copy " + P + "unit0\\*.vwu " + P.substr(0, P.size() - 1),
                                "sleep 1", "run: del " + P + "unit0\\*.vwu"}));
  EXPECT_EQ(ctx.calculation_unit, 0);
  EXPECT_EQ(dir.read("work_unit.vwu"), "id=wu1\ndata of wu1");
}

TEST_F(FinishMoveTest, APartialUnitGetsThePushCompleted) {
  put("", computed_set("wu2"));
  put("unit0/", fresh_set("wu1"));
  put("unit1/", first(computed_set("wu2"), 2));
  unitscan(fake.os, ctx);
  EXPECT_EQ(fake.console.output,
            "[unit0] Dir find : 5\n[unit1] Dir find : 0\n[Unit1] finishing an interrupted move: unit1 holds part of the "
            "client folder's files, completing the push\n[Unit1] push\n[unitselect State_Data_Calculation]\n[Unit0]:" +
                kWaitingToCompute + "\n[Unit0] pop\n");
  EXPECT_EQ(ctx.unit_state[1], Data_Calculation_completion);  // classified again after the push
  EXPECT_EQ(ctx.calculation_unit, 0);                         // the work unit waiting in unit0 comes next
  EXPECT_EQ(dir.read("unit1/result.vwu"), "id=wu2\ndigest=00ff\n");
  EXPECT_FALSE(dir.exists("result.vwu"));
}

TEST_F(FinishMoveTest, TheUnitHoldingMostOfTheSetIsTheOneCompleted) {
  put("", computed_set("wu2"));
  // Both hold twins of the set, evidence among them (unit0's state file
  // matches by chance); unit1 holds more of it.
  put("unit0/", without_first(computed_set("wu2"), 2));
  put("unit1/", first(computed_set("wu2"), 4));
  unitscan(fake.os, ctx);
  EXPECT_NE(fake.console.output.find("[Unit1] finishing an interrupted move"), std::string::npos);
  EXPECT_EQ(dir.read("unit1/result.vwu"), "id=wu2\ndigest=00ff\n");
  EXPECT_FALSE(dir.exists("unit0/result.vwu"));
}

TEST_F(FinishMoveTest, WorkOfItsOwnStillGetsANewHomeSilently) {
  // Shares only the files every unit has; one byte differs in the other.
  put("unit0/", fresh_set("wu1"));
  Files near = fresh_set("wu1");
  near["work_unit.vwu"].back() = 'X';
  put("", near);
  dir.mkdir("unit1");
  unitscan(fake.os, ctx);
  EXPECT_EQ(fake.console.output, "[unit0] Dir find : 5\n[unit1] Dir find : 0\n");
  EXPECT_TRUE(fake.log.empty());
  EXPECT_EQ(ctx.calculation_unit, 1);
  EXPECT_EQ(ctx.unit_state[1], Data_Calculation_wait);
}

// Pictures every clean start can show: the files all units share, or the
// empty output file a pop of an empty unit leaves. No move is finished, and
// the start-up goes exactly as it would without the twin.
struct CleanTwinRow {
  const char* name;
  Files client, unit0;
  std::string output;
  bool pops_unit0;  // the client folder reads empty, so unit0 is popped
  friend void PrintTo(const CleanTwinRow& row, std::ostream* out) { *out << row.name; }
};

class CleanTwinTest : public EngineTest, public ::testing::WithParamInterface<CleanTwinRow> {};

TEST_P(CleanTwinTest, IsNoInterruptedMove) {
  const CleanTwinRow& row = GetParam();
  dir.mkdir("unit0");
  put("", row.client);
  put("unit0/", row.unit0);
  unitscan(fake.os, ctx);
  EXPECT_EQ(fake.console.output, row.output);
  EXPECT_EQ(ctx.calculation_unit, 0);
  if (row.pops_unit0)
    EXPECT_EQ(fake.log, (EventLog{"run: copy " + P + "unit0\\*.vwu " + P.substr(0, P.size() - 1), "sleep 1",
                                  "run: del " + P + "unit0\\*.vwu"}));
  else
    EXPECT_TRUE(fake.log.empty());
}

const Files kBinarySet = {{"outfile.vwu", ""},
                           {"user_info.vwu", kUserInfo},
                           {"version.vwu", kVersion},
                           {"work_unit.vwu", std::string("id=bin\n\0\0\0\0\x01\x80\0", 14) + std::string(5000, '\0')}};

const std::string kPopsUnit0 = "[unit0] Dir find : 5\n[unitselect State_Data_Calculation]\n[Unit0]:" + kWaitingToCompute +
                               "\n[Unit0] pop\n";

INSTANTIATE_TEST_SUITE_P(
    Start, CleanTwinTest,
    ::testing::Values(
        CleanTwinRow{"EmptyOutfileInTheClientFolder", {{"outfile.vwu", ""}}, fresh_set("wu1"), kPopsUnit0, true},
        CleanTwinRow{"VersionFileInTheClientFolder", {{"version.vwu", kVersion}}, fresh_set("wu1"), kPopsUnit0, true},
        CleanTwinRow{"UnitHoldsOnlyTheVersionFile", fresh_set("wu2"), {{"version.vwu", kVersion}},
                     "[unit0] Dir find : 0\n", false},
        CleanTwinRow{"UnitHoldsOnlyAnEmptyOutfile", computed_set("wu2"), {{"outfile.vwu", ""}},
                     "[unit0] Dir find : 0\n", false},
        // Zero bytes, runs of them and empty files are data, never damage.
        CleanTwinRow{"BinaryWorkInTheClientFolder", kBinarySet, {}, "[unit0] Dir find : 0\n", false},
        CleanTwinRow{"BinaryWorkInTheUnit", {}, kBinarySet, kPopsUnit0, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(FinishMoveTest, AFailedPushMakesThePartialUnitTheHome) {
  put("", computed_set("wu2"));
  put("unit0/", first(computed_set("wu2"), 2));
  dir.mkdir("unit1");
  world.fault = CommandWorld::Fault::copy_fails;
  unitscan(fake.os, ctx);
  EXPECT_NE(fake.console.output.find("[Unit0] push failed"), std::string::npos);
  EXPECT_EQ(ctx.calculation_unit, 0);  // not the empty unit1: unit0 already holds part of it
  EXPECT_EQ(ctx.unit_state[0], Data_Calculation_completion);
  EXPECT_EQ(ctx.vorcnt_state, Vorcon_Calc);  // the finished result is recorded, not restarted
  EXPECT_EQ(dir.read("result.vwu"), "id=wu2\ndigest=00ff\n");
  EXPECT_EQ(dir.read("state.vwu"), "prog=1.000000\ncpu=300\n");
}

TEST_F(FinishMoveTest, CopiesThatCannotBeDeletedStopTheRun) {
  put("unit0/", fresh_set("wu1"));
  put("", fresh_set("wu1"));
  fake.shell.effect = [](const std::string&) { return 1; };  // the delete does nothing
  unitscan(fake.os, ctx);
  EXPECT_EQ(fake.log, (EventLog{"run: del " + P + "*.vwu"}));
  EXPECT_EQ(ctx.vorcnt_state, Vorcnt_error);
  EXPECT_EQ(ctx.calculation_unit, NO_UNIT);
  EXPECT_NE(fake.console.output.find("could not be removed; stopping"), std::string::npos);
  EXPECT_EQ(dir.read("work_unit.vwu"), "id=wu1\ndata of wu1");
  EXPECT_EQ(dir.read("unit0/work_unit.vwu"), "id=wu1\ndata of wu1");
}

// A unit folder reached by a second name (a link, a bind mount) shares its
// files with the other folder: every file "has a twin", and a move would
// delete what it had just copied. A record's unit past the units in use may
// be a link to anywhere. Start-up names it in one line and moves nothing.
struct ForeignFolderRow {
  const char* name;
  void (*lay)(EngineWorld&);  // the client folder holds kClientWork already
  std::string output;         // "@" stands for the client folder
  int refused;                // a unit that a push and a pop refuse too, or -1
  friend void PrintTo(const ForeignFolderRow& row, std::ostream* out) { *out << row.name; }
};

const Files kClientWork = {{"work_unit.vwu", "id=wu5\ndata"}, {"state.vwu", "prog=0.4\n"}, {"version.vwu", kVersion}};
const Files kOutside = {{"work_unit.vwu", "not ours"}};

void record_move(EngineWorld& w, MoveDirection direction, int unit) {
  MoveRecord record;
  record.direction = direction;
  record.unit = unit;
  for (const auto& [name, text] : kClientWork) record.files.push_back({name, text.size(), digest_of(text)});
  w.dir.write(kMoveRecordName, format_move_record(record));
}

// unit7 a link to a folder no unit uses, holding a file of the recorded name.
void link_unit7_outside(EngineWorld& w, MoveDirection direction) {
  w.dir.mkdir("unit0");
  w.put("elsewhere/", kOutside);
  if (direction == MoveDirection::pop) w.put("elsewhere/", kClientWork);  // whole at both ends
  fs::create_directory_symlink(w.P + "elsewhere", w.P + "unit7");
  record_move(w, direction, 7);
}

const std::string kNotOwn = ": nothing is moved while a unit folder is not a folder of its own; make it one and restart\n";
const std::string kUnit7NotInUse = "[unit0] Dir find : 0\nThe move record @vorcnt.move names unit7, which is not a unit "
                                   "folder in use (they end before unit1); nothing is repaired: check the folders with "
                                   "vorstat, then delete it and restart\n";

class ForeignFolderTest : public EngineTest, public ::testing::WithParamInterface<ForeignFolderRow> {};

TEST_P(ForeignFolderTest, IsNamedAndNothingMoves) {
  const ForeignFolderRow& row = GetParam();
  put("", kClientWork);
  row.lay(*this);
  const auto before = dir.tree();
  ctx.mode = Mode_calc;
  unitscan(fake.os, ctx);
  std::string output = row.output;
  if (const std::size_t at = output.find('@'); at != std::string::npos) output.replace(at, 1, P);
  EXPECT_EQ(fake.console.output, output);
  EXPECT_EQ(ctx.vorcnt_state, Vorcnt_error);
  if (row.refused >= 0) {
    // A move asked for all the same is refused before its copy.
    EXPECT_FALSE(unitpush(fake.os, row.refused, ctx.path));
    EXPECT_FALSE(unitpop(fake.os, row.refused, ctx.path));
  }
  EXPECT_TRUE(fake.log.empty());
  EXPECT_EQ(dir.tree(), before);  // the record, the client's work and the outside folder as they were
}

INSTANTIATE_TEST_SUITE_P(
    Start, ForeignFolderTest,
    ::testing::Values(
        ForeignFolderRow{"Unit0IsTheClientFolder",
                         [](EngineWorld& w) { fs::create_directory_symlink(w.P, w.P + "unit0"); },
                         "unit0 is the same folder as the client folder" + kNotOwn, 0},
        ForeignFolderRow{"Unit1IsUnit0",
                         [](EngineWorld& w) {
                           w.put("unit0/", fresh_set("wu1"));
                           fs::create_directory_symlink(w.P + "unit0", w.P + "unit1");
                         },
                         "unit1 is the same folder as unit0" + kNotOwn, 1},
        // Past a gap, and named only by a record: finishing its "push" would
        // have deleted the client's only copy.
        ForeignFolderRow{"RecordedUnit5PastAGapIsTheClientFolder",
                         [](EngineWorld& w) {
                           w.dir.mkdir("unit0");
                           fs::create_directory_symlink(w.P, w.P + "unit5");
                           record_move(w, MoveDirection::push, 5);
                         },
                         "unit5 is the same folder as the client folder" + kNotOwn, 5},
        ForeignFolderRow{"RecordedPopFromUnit7PastAGap",
                         [](EngineWorld& w) { link_unit7_outside(w, MoveDirection::pop); }, kUnit7NotInUse, -1},
        ForeignFolderRow{"RecordedPushIntoUnit7PastAGap",
                         [](EngineWorld& w) { link_unit7_outside(w, MoveDirection::push); }, kUnit7NotInUse, -1},
        // The folders found decide, not UNITS.
        ForeignFolderRow{"RecordedPushIntoUnit7PastAGapWithSixteenUnitsSet",
                         [](EngineWorld& w) {
                           w.ctx.units = 16;
                           link_unit7_outside(w, MoveDirection::push);
                         },
                         kUnit7NotInUse, -1}),
    [](const auto& p) { return std::string(p.param.name); });

// A record is acted on only when it is whole (its sum matches) and exactly as
// a move writes it.
TEST(MoveRecordTest, OnlyAWholeRecordIsUsed) {
  MoveRecord record;
  record.direction = MoveDirection::pop;
  record.unit = 15;
  record.files = {{"a b.vwu", 3, digest_of("abc")}, {"work_unit.vwu", 0, digest_of("")}};
  const std::string good = format_move_record(record);
  MoveRecord back;
  std::string why;
  ASSERT_TRUE(parse_move_record(good, &back, &why)) << why;
  EXPECT_EQ(format_move_record(back), good);
  // Whole (summed) records that make no sense, and records that are not whole.
  const auto sealed = [](const std::string& body) { return body + "sum " + digest_of(body).hex() + "\nend\n"; };
  const std::string line = "file 3 " + digest_of("abc").hex() + " ";
  const std::string head = "vorcnt move record 1\npop 3\n";
  for (const std::string& bad :
       {good.substr(0, good.size() - 1), good + "x", head + "sum " + digest_of("x").hex() + "\nend\n",
        sealed("vorcnt move record 2\npop 3\n"), sealed("vorcnt move record 1\npop 16\n"),
        sealed("vorcnt move record 1\nmove 3\n"), sealed(head + line + "a.txt\n"), sealed(head + line + "../a.vwu\n"),
        sealed(head + line + "a\\b.vwu\n"), sealed(head + line + "a.vwu\n" + line + "a.vwu\n"),
        sealed(head + "file 3 " + std::string(32, 'g') + " a.vwu\n"),
        sealed(head + "file -3 " + digest_of("abc").hex() + " a.vwu\n"), sealed(head + line + "\n"),
        sealed(head + std::string("\0", 1)), std::string()}) {
    EXPECT_FALSE(parse_move_record(bad, &back, &why)) << bad;
    EXPECT_FALSE(why.empty());
  }

  // One cut short while it was written belongs to a move that never began:
  // it is emptied with one line, and the start goes on.
  {
    EngineWorld w;
    w.put("unit0/", fresh_set("wu1"));
    w.dir.write(kMoveRecordName, good.substr(0, good.size() / 2));
    w.ctx.mode = Mode_calc;
    unitscan(w.fake.os, w.ctx);
    EXPECT_NE(w.ctx.vorcnt_state, Vorcnt_error);
    EXPECT_EQ(lines_of(w.fake.console.output)[1], "The move record " + w.P +
                                                    "vorcnt.move was cut short while it was written; its move "
                                                    "never began, so it is emptied")
        << w.fake.console.output;
    EXPECT_EQ(w.dir.read(kMoveRecordName), "");
    EXPECT_EQ(w.dir.read("work_unit.vwu"), "id=wu1\ndata of wu1");  // popped as on any start
  }
  // One that is whole but makes no sense, or a file of that name that is no
  // record of ours, stops the start: nothing is repaired on a guess, and
  // the file is left as it is.
  for (const std::string& text : {sealed("vorcnt move record 1\npop 16\n"), std::string("my notes\n")}) {
    EngineWorld w;
    w.put("", fresh_set("wu1"));
    w.put("unit0/", fresh_set("wu1"));
    w.dir.write(kMoveRecordName, text);
    w.ctx.mode = Mode_calc;
    unitscan(w.fake.os, w.ctx);
    EXPECT_EQ(w.ctx.vorcnt_state, Vorcnt_error);
    EXPECT_TRUE(w.fake.log.empty());
    EXPECT_NE(w.fake.console.output.find("vorcnt.move cannot be used ("), std::string::npos) << w.fake.console.output;
    EXPECT_EQ(w.dir.read(kMoveRecordName), text);
    EXPECT_EQ(w.dir.read("work_unit.vwu"), "id=wu1\ndata of wu1");
    EXPECT_EQ(w.dir.read("unit0/work_unit.vwu"), "id=wu1\ndata of wu1");
  }
}

TEST_F(FinishMoveTest, ARunInErrorMovesNothing) {
  put("unit0/", fresh_set("wu1"));
  put("", fresh_set("wu1"));
  ctx.mode = Mode_error;
  EXPECT_EQ(engine_detail::finish_interrupted_move(fake.os, ctx), engine_detail::MoveOutcome::nothing_found);
  EXPECT_TRUE(fake.log.empty());
  EXPECT_TRUE(dir.exists("work_unit.vwu"));
}

TEST_F(FinishMoveTest, ComparesOnlyTheMovedFilesOfRealUnitFolders) {
  put("unit2/", fresh_set("wu1"));
  dir.write("WORK_UNIT.VWU", "id=wu1\ndata of wu1");
  dir.write("notes.txt", "not moved");
  dir.mkdir("sub.vwu");
  dir.mkdir("unit0");
  dir.write("unit1", "a plain file");
  // "*.vwu" takes the extension in any case, files only.
  EXPECT_EQ(vwu_names(ctx.path), (std::vector<std::string>{"WORK_UNIT.VWU"}));
  // Another name on this file system, so no copy of unit2's file.
  EXPECT_EQ(engine_detail::find_interrupted_move(ctx.path, 3).kind, engine_detail::Leftover::none);

  std::filesystem::rename(P + "WORK_UNIT.VWU", P + "work_unit.vwu");
  const auto found = engine_detail::find_interrupted_move(ctx.path, 3);
  EXPECT_EQ(found.kind, engine_detail::Leftover::client_copies);
  EXPECT_EQ(found.unit, 2);
  // Unit folders past the scanned ones are not looked at.
  EXPECT_EQ(engine_detail::find_interrupted_move(ctx.path, 2).kind, engine_detail::Leftover::none);
}

}  // namespace
}  // namespace vorcnt::testing
