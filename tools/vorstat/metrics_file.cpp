// The metrics file, replaced whole through the controller's disk layer: the
// textfile collector reads it every scrape, and must see the old file or the
// new one, never a part.
#include "folder_marks.h"
#include "engine/engine.h"
#include "platform/console.h"
#include "platform/disk.h"
#include "platform/language.h"
#include "report_text.h"
#include "vorstat_report.h"

namespace vorcnt::vorstat {

bool replace_file_atomically(const std::string& path, const std::string& bytes, Console& errors) {
  Disk& disk = real_disk();
  // Beside the target, so the rename stays on one file system; a name the
  // textfile collector skips (it reads only "*.prom").
  const std::string temp = path + "." + std::to_string(process_id()) + ".tmp";
  const std::string shown_temp = printable(temp);
  // Made empty first, so that a folder refusing the file is told apart from
  // a disk refusing its bytes.
  Status done = disk.write_file(temp, {});
  if (!done.ok()) {
    say(errors, format_text(N_("vorstat: cannot create %s: %s\n"), kVerbatim, reason_of(done).c_str()), {shown_temp});
    return false;
  }
  done = disk.write_file(temp, bytes);
  if (!done.ok()) {
    say(errors, format_text(N_("vorstat: cannot write %s: %s\n"), kVerbatim, reason_of(done).c_str()), {shown_temp});
  } else if (done = disk.sync_file(temp); !done.ok()) {
    say(errors, format_text(N_("vorstat: cannot sync %s: %s\n"), kVerbatim, reason_of(done).c_str()), {shown_temp});
  } else if (done = disk.rename(temp, path); !done.ok()) {
    say(errors, format_text(N_("vorstat: cannot rename %s to %s: %s\n"), kVerbatim, kVerbatim, reason_of(done).c_str()),
        {shown_temp, printable(path)});
  }
  if (done.ok()) return true;
  // What went wrong is said above; a side file left behind is named *.tmp,
  // which the collector never reads.
  (void)disk.remove(temp);
  return false;
}

}  // namespace vorcnt::vorstat
