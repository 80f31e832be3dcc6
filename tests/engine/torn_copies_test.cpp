// The start-up choice between an intact copy and a torn one: a torn copy
// goes only when its intact twin is at the other end of its move; anything
// else torn is set aside whole, never deleted.
#include <filesystem>
#include <map>
#include <ostream>
#include <string>

#include "engine/engine_fixture.h"
#include "engine/torn_copies.h"

namespace vorcnt::testing {
namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>;  // path below the client folder -> contents

const std::string kZeros(12, '\0');

struct TornRow {
  const char* name;
  Tree before;
  Tree after;
  std::int32_t mode = Mode_calc;
  friend void PrintTo(const TornRow& row, std::ostream* out) { *out << row.name; }
};

class TornCopiesTest : public EngineTest, public ::testing::WithParamInterface<TornRow> {
 protected:
  Tree tree() const {
    Tree out;
    for (const auto& e : fs::recursive_directory_iterator(P))
      if (e.is_regular_file()) out[fs::relative(e.path(), P).generic_string()] = dir.read(fs::relative(e.path(), P).string());
    return out;
  }
};

TEST_P(TornCopiesTest, KeepsTheIntactCopyAndNeverDeletesOnAGuess) {
  put("", GetParam().before);
  dir.mkdir("unit0");
  dir.mkdir("unit1");
  ctx.mode = GetParam().mode;
  ctx.units_local = 2;
  const bool changed = engine_detail::mend_torn_copies(fake.os, ctx);
  EXPECT_EQ(tree(), GetParam().after);
  EXPECT_EQ(changed, GetParam().before != GetParam().after);
  EXPECT_EQ(lines_of(fake.console.output).empty(), !changed) << fake.console.output;
  EXPECT_TRUE(fake.log.empty());  // no command: nothing goes through the interpreter
}

INSTANTIATE_TEST_SUITE_P(
    Choices, TornCopiesTest,
    ::testing::Values(
        // The work unit both hold names the unit the client's torn copy came from.
        TornRow{"ClientCopyWithItsTwinInTheUnitGoes",
                {{"work_unit.vwu", "id=7\n"}, {"state.vwu", std::string(10, '\0')}, {"unit0/work_unit.vwu", "id=7\n"},
                 {"unit0/state.vwu", "prog=0.25\n"}},
                {{"work_unit.vwu", "id=7\n"}, {"unit0/work_unit.vwu", "id=7\n"}, {"unit0/state.vwu", "prog=0.25\n"}}},
        // Files every unit carries alike are no evidence of which unit it was.
        TornRow{"ClientCopyWithNoEvidenceIsSetAside",
                {{"version.vwu", "v\n"}, {"state.vwu", ""}, {"unit1/version.vwu", "v\n"},
                 {"unit1/state.vwu", "prog=0.25\n"}},
                {{"version.vwu", "v\n"}, {"damaged/client/state.vwu", ""}, {"unit1/version.vwu", "v\n"},
                 {"unit1/state.vwu", "prog=0.25\n"}}},
        TornRow{"UnitCopyWhoseBytesDisagreeIsSetAside",
                {{"result.vwu", "digest=ab\n"}, {"unit0/result.vwu", std::string("digest=cd\0\0", 11)}},
                {{"result.vwu", "digest=ab\n"}, {"damaged/unit0/result.vwu", std::string("digest=cd\0\0", 11)}}},
        TornRow{"BothTornAreBothSetAside",
                {{"result.vwu", ""}, {"unit0/result.vwu", kZeros}},
                {{"damaged/client/result.vwu", ""}, {"damaged/unit0/result.vwu", kZeros}}},
        TornRow{"AnEarlierCutsFilesAreNeverOverwritten",
                {{"damaged/unit1/work_unit.vwu", "old"}, {"unit1/work_unit.vwu", kZeros}},
                {{"damaged/unit1/work_unit.vwu", "old"}, {"damaged/unit1-2/work_unit.vwu", kZeros}}},
        TornRow{"EmptyOutputAndDownloadFilesAreNormal",
                {{"outfile.vwu", ""}, {"unit0/wtemp.vwu", ""}, {"unit0/outfile.vwu", ""}},
                {{"outfile.vwu", ""}, {"unit0/wtemp.vwu", ""}, {"unit0/outfile.vwu", ""}}},
        TornRow{"ARunInErrorTouchesNothing",
                {{"unit0/result.vwu", kZeros}}, {{"unit0/result.vwu", kZeros}}, Mode_error}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace vorcnt::testing
