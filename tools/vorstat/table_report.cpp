// The report as a table for the console: the client's texts in code page
// 932, the user's path between them unchanged.
#include <cmath>
#include <cstdio>

#include "engine/history.h"
#include "engine/move_record.h"
#include "engine/work_wait.h"
#include "ground/messages.h"
#include "report_text.h"
#include "vorstat_report.h"

namespace vorcnt::vorstat {

namespace {

std::string label_of(const FolderStatus& f) {
  if (f.unit < 0) return "client";
  return "unit" + std::to_string(f.unit);
}

void table_row(std::string& out, const FolderStatus& f) {
  const std::int32_t state = f.report.data_state;
  char progress[32];
  if (credible_progress(f.report.progress))
    std::snprintf(progress, sizeof progress, "%.2f%%", f.report.progress);
  else
    std::snprintf(progress, sizeof progress, "?");
  const std::string cpu = f.snap.state_status == 1 ? "-" : credible_seconds(f.snap.cpu) ? duration(f.snap.cpu) : "?";
  // A file time ahead of the clock (a clock set back, a copy from another
  // machine) has no age to show.
  const std::string age = !f.work_unit_dated       ? "-"
                          : f.work_unit_ahead       ? "in the future"
                                                    : duration(static_cast<double>(f.work_unit_age));
  appendf(out, "%-7s %d %-27s %9s %10s %10s  %s\n", label_of(f).c_str(), state, data_state_name(state), progress,
          cpu.c_str(), age.c_str(), f.snap.result_present == 1 ? "yes" : "no");
}

void user_row(std::string& out, const FolderStatus& f) {
  const ClientSnapshot& s = f.snap;
  // The client's texts may hold any byte: a control byte reaching the
  // terminal raw could move the cursor or retitle the window.
  appendf(out, "%-7s id=%s name=%s nwus=%d nresults=%d total_cpu=%s\n", label_of(f).c_str(), printable(s.id).c_str(),
          printable(s.name).c_str(), s.nwus, s.nresults, duration(s.total_cpu).c_str());
}

// The folders a move was seen changing, and the move's record.
void move_lines(std::string& out, const BufferStatus& status) {
  std::string moving;
  if (status.client.in_transition) moving += " client";
  for (const FolderStatus& f : status.units)
    if (f.in_transition) moving.append(" ").append(label_of(f));
  if (!moving.empty()) out += "in transition:" + moving + " (a move is under way; their rows may be out of date)\n";
  const MoveStatus& move = status.move;
  const char* direction = move.push ? "push" : "pop";
  switch (move.state) {
    case MoveStatus::State::none:
      break;
    case MoveStatus::State::under_way:
      appendf(out, "move under way: %s of unit%d (%d file%s)\n", direction, move.unit, move.files, move.files == 1 ? "" : "s");
      break;
    case MoveStatus::State::interrupted:
      appendf(out, "interrupted move: %s of unit%d (%d file%s); the controller finishes or undoes it when it starts\n",
              direction, move.unit, move.files, move.files == 1 ? "" : "s");
      break;
    case MoveStatus::State::cut_short:
      // The controller's own line for it, word for word.
      appendf(out, msg::kRecordCutShort, kMoveRecordName);
      break;
    case MoveStatus::State::unreadable:
      appendf(out, "move record %s cannot be used (%s): the controller repairs nothing until it is checked and removed\n",
              kMoveRecordName, move.problem.c_str());
      break;
  }
}

// The account of each folder that has a user-info file, then the files a
// move's record set aside.
void user_and_damaged_lines(std::string& out, const BufferStatus& status) {
  bool header = false;
  auto user = [&](const FolderStatus& f) {
    if (!f.user_info_file) return;
    if (!header) out += "\nuser info:\n";
    header = true;
    user_row(out, f);
  };
  user(status.client);
  for (const FolderStatus& f : status.units) user(f);
  if (!status.damaged.empty()) {
    appendf(out, "\ndamaged: %d file%s set aside, none of them used:\n", static_cast<int>(status.damaged.size()),
            status.damaged.size() == 1 ? "" : "s");
    for (const std::string& name : status.damaged) appendf(out, "  damaged\\%s\n", printable(name).c_str());
  }
}

}  // namespace

std::vector<std::string> table_pieces(const BufferStatus& status) {
  // The path is the user's, in the system's own encoding: it goes to the
  // terminal unchanged, while the client's texts around it are CP932.
  std::vector<std::string> pieces{"Client folder: ", printable(status.path), ""};
  std::string& out = pieces.back();
  appendf(out, " (%d unit folder%s)\n", static_cast<int>(status.units.size()), status.units.size() == 1 ? "" : "s");
  appendf(out, "%-7s %-29s %9s %10s %10s  %s\n", "folder", "state", "progress", "cpu", "wu age", "result");
  table_row(out, status.client);
  for (const FolderStatus& f : status.units) table_row(out, f);
  if (status.client.files_ahead)
    out += "client files changed in the future (their newest time is ahead of the clock)\n";
  else if (status.client.files_dated)
    appendf(out, "client files unchanged for %s\n", duration(static_cast<double>(status.client.files_unchanged)).c_str());
  out += outlook_lines(status.outlook);
  move_lines(out, status);
  if (!status.waiting_for_work.empty()) {
    appendf(out, "units waiting for work: %d (", static_cast<int>(status.waiting_for_work.size()));
    for (const int n : status.waiting_for_work) appendf(out, n == status.waiting_for_work.front() ? "unit%d" : ", unit%d", n);
    out += "; their project had no work)\n";
  }
  if (!status.work_wait_problem.empty())
    appendf(out, "%s cannot be used (%s)\n", kWorkWaitName, status.work_wait_problem.c_str());
  user_and_damaged_lines(out, status);
  return pieces;
}

std::string format_table(const BufferStatus& status) {
  std::string out;
  for (const std::string& piece : table_pieces(status)) out += piece;
  return out;
}

}  // namespace vorcnt::vorstat
