// The unit journal: its digest, its lines, and what a journal that cannot be
// written costs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "engine/history.h"
#include "engine/sha256.h"
#include "support/fakes.h"
#include "support/scratch.h"

namespace vorcnt {
namespace {

using testing::FakeOs;
using testing::ScratchDir;

TEST(Sha256, KnownDigests) {
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Two blocks, the padding spilling into the second.
  EXPECT_EQ(sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  // Fed in pieces that straddle the block boundary, as a file is read.
  const std::string million(1000000, 'a');
  Sha256 s;
  for (std::size_t at = 0; at < million.size(); at += 4093)
    s.update(million.data() + at, std::min<std::size_t>(4093, million.size() - at));
  char hex[65];
  auto d = s.finish();
  for (int i = 0; i < 32; ++i) std::snprintf(hex + 2 * i, 3, "%02x", d[static_cast<std::size_t>(i)]);
  EXPECT_EQ(std::string(hex), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
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
            std::string(kJournalHeader) + "2025-12-07T22:00:00+09:00\t3\tpop_compute\t" + sha256_hex("wu").substr(0, 12) +
                "\t\n" + "2025-12-07T22:00:00+09:00\t3\tcomputed\t" + sha256_hex("res").substr(0, 12) +
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
}

TEST_F(Journal, AFailedMoveIsRecordedOnceUntilAMoveSucceeds) {
  record_move_outcome(fake.os, ctx, false, "push", 1);
  record_move_outcome(fake.os, ctx, false, "push", 1);
  record_move_outcome(fake.os, ctx, true, "push", 1);
  record_move_outcome(fake.os, ctx, true, "pop", 2);
  const std::string text = dir.read("h.tsv");
  EXPECT_NE(text.find("\t1\tmove_failed\t-\tpush\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\t1\tmove_cleared\t-\tpush\n"), std::string::npos) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
}

}  // namespace
}  // namespace vorcnt
