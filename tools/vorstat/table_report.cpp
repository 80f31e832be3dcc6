// The report as a table for the console: the client's texts in code page
// 932, the user's path between them unchanged.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/controller_status.h"
#include "engine/history.h"
#include "engine/move_record.h"
#include "engine/work_wait.h"
#include "ground/messages.h"
#include "platform/language.h"
#include "report_text.h"
#include "vorstat_report.h"

namespace vorcnt::vorstat {

namespace {

std::string label_of(const FolderStatus& f) {
  // TRANSLATORS: the client folder's label in the table's first column,
  // beside unit0 ... unit15.
  if (f.unit < 0) return tr("client");
  return "unit" + std::to_string(f.unit);
}

// What the controller does with its current unit, whose own folder is empty
// while its files are in the client folder; nullptr for a state without one.
const char* current_unit_activity(const std::string& state) {
  const struct {
    std::int32_t state;
    const char* words;
  } rows[] = {
      {Vorcon_CalcWait, N_("in the client folder, about to be computed")},
      {Vorcon_Calc, N_("computing, in the client folder")},
      {Vorcon_CalcCompletion, N_("computed, being put back from the client folder")},
      {Vorcon_ConnectionWait, N_("in the client folder, waiting to connect")},
      {Vorcon_Connection, N_("connecting, in the client folder")},
      {Vorcon_ConnectCompletion, N_("connected, being put back from the client folder")},
  };
  for (const auto& row : rows)
    if (state == state_word(row.state)) return row.words;
  return nullptr;
}

// The unit whose files the controller works on in the client folder, as it
// says while it runs; -1 when it names none, or cannot be asked (it does not
// run, or has not yet published its state). A status file left by a
// controller gone is history: its next start decides afresh.
int current_unit(const Outlook& o) {
  if (!o.controller_up || !o.status_file || current_unit_activity(o.published.state) == nullptr) return -1;
  return o.published.unit;
}

// What the files of a folder say the unit is doing. A unit folder never
// computes: a unit there waits, whatever state -fill left it in.
const char* files_activity(std::int32_t state, bool client) {
  switch (state) {
    case Data_nothing: return client ? N_("no work unit") : N_("waiting for new work");
    case Data_Calculation_wait: return N_("waiting to compute");
    case Data_Calculation: return client ? N_("partly computed") : N_("waiting to compute (partly computed)");
    case Data_Calculation_completion:
    case Data_Sending: return N_("computed, waiting to send");
    case Data_Receiving: return client ? N_("new work incomplete") : N_("new work incomplete, waiting to connect");
    default: return "?";
  }
}

// The row's words: what the unit in `f` is doing, from its files and what
// the controller says while it runs.
const char* activity(const FolderStatus& f, const BufferStatus& status) {
  if (f.in_transition) return N_("being moved");
  const Outlook& o = status.outlook;
  const std::int32_t state = f.report.data_state;
  const bool controller_says = o.controller_up && o.status_file;
  if (f.unit < 0) {
    if (controller_says && o.published.wait == wait_word(WaitKind::client_computing) && state == Data_Calculation)
      return N_("computing");
    if (controller_says && o.published.wait == wait_word(WaitKind::connection)) return N_("connecting");
    return files_activity(state, true);
  }
  const int current = current_unit(o);
  if (state == Data_nothing && f.unit == current) {
    if (const char* words = current_unit_activity(o.published.state)) return words;
  }
  const std::vector<int>& waiting = status.waiting_for_work;
  if (std::find(waiting.begin(), waiting.end(), f.unit) != waiting.end()) return N_("waiting for work: its project had none");
  // A folder without work may be the home of the unit in the client
  // folder; only the controller knows which one is, and it is not saying.
  if (state == Data_nothing && current < 0 && status.client.report.data_state != Data_nothing)
    return N_("waiting for new work, or its unit is in the client folder");
  return files_activity(state, false);
}

void table_row(std::string& out, const FolderStatus& f, const BufferStatus& status) {
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
                          : f.work_unit_ahead       ? std::string(tr("in the future"))
                                                    : duration(static_cast<double>(f.work_unit_age));
  // TRANSLATORS: a row of the table under its heading: the folder, its
  // state's number and name, progress, cpu, the work unit's age, whether a
  // result is there, and what the unit is doing. Widths count bytes of code
  // page 932, where a Japanese character takes two, as on the screen.
  appendf(out, tr("%-7s %d %-27s %9s %10s %10s  %-6s  %s\n"), label_of(f).c_str(), state, data_state_name(state),
          progress, cpu.c_str(), age.c_str(), f.snap.result_present == 1 ? tr("yes") : tr("no"),
          tr(activity(f, status)));
}

void user_row(std::string& out, const FolderStatus& f) {
  const ClientSnapshot& s = f.snap;
  // The client's texts may hold any byte: a control byte reaching the
  // terminal raw could move the cursor or retitle the window.
  // TRANSLATORS: the keys stay as they are; the width of the folder's
  // label is the table's.
  appendf(out, tr("%-7s id=%s name=%s nwus=%d nresults=%d total_cpu=%s\n"), label_of(f).c_str(),
          printable(s.id).c_str(), printable(s.name).c_str(), s.nwus, s.nresults, duration(s.total_cpu).c_str());
}

// The folders a move was seen changing, and the move's record.
void move_lines(std::string& out, const BufferStatus& status) {
  std::string moving;
  if (status.client.in_transition) moving.append(" ").append(label_of(status.client));
  for (const FolderStatus& f : status.units)
    if (f.in_transition) moving.append(" ").append(label_of(f));
  if (!moving.empty())
    appendf(out, tr("in transition:%s (a move is under way; their rows may be out of date)\n"), moving.c_str());
  const MoveStatus& move = status.move;
  // Whole lines for each direction and number, for the translators.
  const bool one = move.files == 1;
  switch (move.state) {
    case MoveStatus::State::none:
      break;
    case MoveStatus::State::under_way:
      if (move.push)
        appendf(out, one ? tr("move under way: push of unit%d (%d file)\n") : tr("move under way: push of unit%d (%d files)\n"),
                move.unit, move.files);
      else
        appendf(out, one ? tr("move under way: pop of unit%d (%d file)\n") : tr("move under way: pop of unit%d (%d files)\n"),
                move.unit, move.files);
      break;
    case MoveStatus::State::interrupted:
      if (move.push)
        appendf(out,
                one ? tr("interrupted move: push of unit%d (%d file); the controller finishes or undoes it when it starts\n")
                    : tr("interrupted move: push of unit%d (%d files); the controller finishes or undoes it when it starts\n"),
                move.unit, move.files);
      else
        appendf(out,
                one ? tr("interrupted move: pop of unit%d (%d file); the controller finishes or undoes it when it starts\n")
                    : tr("interrupted move: pop of unit%d (%d files); the controller finishes or undoes it when it starts\n"),
                move.unit, move.files);
      break;
    case MoveStatus::State::cut_short:
      // The controller's own line for it, word for word.
      appendf(out, tr(msg::kRecordCutShort), kMoveRecordName);
      break;
    case MoveStatus::State::unreadable:
      appendf(out,
              tr("move record %s cannot be used (%s): the controller repairs nothing until it is checked and removed\n"),
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
    if (!header) out += tr("\nuser info:\n");
    header = true;
    user_row(out, f);
  };
  user(status.client);
  for (const FolderStatus& f : status.units) user(f);
  if (!status.damaged.empty()) {
    const int n = static_cast<int>(status.damaged.size());
    appendf(out, n == 1 ? tr("\ndamaged: %d file set aside, none of them used:\n")
                        : tr("\ndamaged: %d files set aside, none of them used:\n"),
            n);
    for (const std::string& name : status.damaged) appendf(out, "  damaged\\%s\n", printable(name).c_str());
  }
}

}  // namespace

std::vector<std::string> table_pieces(const BufferStatus& status) {
  // The path is the user's, in the system's own encoding: it goes to the
  // terminal unchanged, while the client's texts around it are CP932.
  Pieces pieces;
  const int units = static_cast<int>(status.units.size());
  pieces.showing(format_text(units == 1 ? N_("Client folder: %s (%d unit folder)\n")
                                        : N_("Client folder: %s (%d unit folders)\n"),
                             kVerbatim, units),
                 {printable(status.path)});
  std::string out;
  // TRANSLATORS: the table's heading, aligned with its rows (below).
  out += tr("folder  state                          progress        cpu     wu age  result  activity\n");
  table_row(out, status.client, status);
  for (const FolderStatus& f : status.units) table_row(out, f, status);
  if (status.client.files_ahead)
    out += tr("client files changed in the future (their newest time is ahead of the clock)\n");
  else if (status.client.files_dated)
    appendf(out, tr("client files unchanged for %s\n"),
            duration(static_cast<double>(status.client.files_unchanged)).c_str());
  out += outlook_lines(status.outlook);
  move_lines(out, status);
  if (!status.waiting_for_work.empty()) {
    std::string units_named;
    for (const int n : status.waiting_for_work) appendf(units_named, units_named.empty() ? "unit%d" : ", unit%d", n);
    appendf(out, tr("units waiting for work: %d (%s; their project had no work)\n"),
            static_cast<int>(status.waiting_for_work.size()), units_named.c_str());
  }
  if (!status.work_wait_problem.empty())
    appendf(out, tr("%s cannot be used (%s)\n"), kWorkWaitName, status.work_wait_problem.c_str());
  user_and_damaged_lines(out, status);
  pieces.write(out);
  return pieces.all();
}

std::string format_table(const BufferStatus& status) {
  std::string out;
  for (const std::string& piece : table_pieces(status)) out += piece;
  return out;
}

}  // namespace vorcnt::vorstat
