// Push and pop: the only operations that move a work unit's files. Each copy
// is checked byte for byte and flushed to the disk before its source is
// deleted, so neither a failed copy nor a power cut costs a file.
#include <string>

#include "engine/copy_check.h"
#include "engine/engine.h"
#include "engine/history.h"
#include "platform/console.h"
#include "platform/files.h"

namespace vorcnt {

using engine_detail::check_copy;
using engine_detail::CopyCheck;

namespace {

// The copies must be on the disk before their sources go: until then a power
// cut could leave only empty or zero-filled copies behind.
bool copies_on_disk(Os& os, int unit, const char* move, const std::string& folder, const CopyCheck& check,
                    const char* kept_in) {
  std::string failed;
  if (sync_files(folder, check.files, &failed)) return true;
  print(os, "[Unit%d] %s failed: %s could not be written to the disk, files kept in %s\n", unit, move, failed.c_str(),
        kept_in);
  return false;
}

}  // namespace

bool unitpush(Os& os, int unit, const char* path) {
  // With no current unit there is no folder to push into; the client
  // folder's files simply stay where they are.
  if (!is_unit_index(unit)) {
    print(os, "push skipped: no unit is current (%d), the client folder's files stay in place\n", unit);
    return false;
  }
  print(os, "[Unit%d] push\n", unit);
  const std::string folder = unit_folder(path, unit);
  // "copy *.vwu X" into a missing folder or onto a plain file would merge
  // every file into one file named X; such a push is not even started.
  if (!is_directory(folder.c_str())) {
    print(os, "[Unit%d] push failed: unit%d is not a folder, files kept\n", unit, unit);
    return false;
  }
  const std::string client(path);
  const int status = run_command(os, "copy " + client + "*.vwu " + folder);
  const CopyCheck check = check_copy(client, folder, status);
  if (!check.ok) {
    // Deleting now could lose the only copy of the work unit.
    print(os, "[Unit%d] push failed: ", unit);
    print_verbatim(os, "", check.reason, ", files kept in the client folder\n");
    return false;
  }
  if (!copies_on_disk(os, unit, "push", folder, check, "the client folder")) return false;
  os.clock.sleep_seconds(1);
  run_command(os, "del " + client + "*.vwu");
  // A cut now would only bring a deleted source back (which the start-up
  // scan sorts out), but it would be noise.
  sync_folder(client);
  return true;
}

bool unitpop(Os& os, int unit, const char* path) {
  if (!is_unit_index(unit)) {
    print(os, "pop skipped: no unit is current (%d), nothing is moved\n", unit);
    return false;
  }
  print(os, "[Unit%d] pop\n", unit);
  const std::string client(path);
  const std::string folder = unit_folder(path, unit);
  // The destination is the client folder without its trailing separator
  // (with an empty path, the copy loses its trailing blank instead).
  std::string copy = "copy " + folder + "\\*.vwu " + client;
  copy.pop_back();
  const int status = run_command(os, copy);
  const CopyCheck check = check_copy(folder + "\\", client, status);

  const std::string outfile = client + "outfile.vwu";
  if (!path_exists(outfile.c_str()) && !create_empty_file(outfile.c_str())) print(os, "outfile.vwu not found!\n");

  if (!check.ok) {
    // The unit folder still holds the only complete set; it stays there.
    print(os, "[Unit%d] pop failed: ", unit);
    print_verbatim(os, "", check.reason, "");
    print(os, ", files kept in unit%d\n", unit);
    return false;
  }
  const std::string kept_in = "unit" + std::to_string(unit);
  if (!copies_on_disk(os, unit, "pop", client, check, kept_in.c_str())) return false;
  os.clock.sleep_seconds(1);
  run_command(os, "del " + folder + "\\*.vwu");
  sync_folder(folder + "\\");
  return true;
}

void unitswap(Os& os, ControllerContext& ctx) {
  // The client folder still holds the old unit after a failed push: popping
  // another one on top of it would mix two work units. Keeping vorcnt_state
  // makes the next pass try the swap again.
  const int pushed = ctx.calculation_unit;
  const bool push_ok = unitpush(os, pushed, ctx.path);
  record_move_outcome(os, ctx, push_ok, "push", pushed);
  if (!push_ok) return;
  record_event(os, ctx, UnitEvent::push, pushed, unit_folder(ctx.path, pushed) + "\\");
  unitselect(os, ctx);
  // When the selection found nothing to compute and nothing to send, it left
  // calculation_unit as it was and Vorcnt_error ends the loop after this
  // pass; popping that unit puts it back into the client folder, where the
  // next run finds it.
  record_pop(os, ctx, unitpop(os, ctx.calculation_unit, ctx.path));
}

}  // namespace vorcnt
