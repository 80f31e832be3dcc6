// The program around the report: its arguments, the folder to read, and
// where the report goes (the console, or the metrics file).
#include <cstring>

#include "config/settings.h"
#include "folder_marks.h"
#include "ground/context.h"
#include "history_report.h"
#include "platform/files.h"
#include "platform/null_os.h"
#include "platform/path_text.h"
#include "report_text.h"
#include "vorstat_report.h"

namespace vorcnt::vorstat {

namespace {

#ifndef VORCNT_VERSION
#define VORCNT_VERSION "unknown"
#endif

constexpr char kUsage[] =
    "Usage: vorstat [--json] [--prometheus FILE] [--version] [--help] [PATH]\n"
    "Reports what the client folder PATH and its unit folders (unit0 to unit15)\n"
    "hold, as the controller classifies them. Nothing in them is changed.\n"
    "PATH defaults to the EXEC folder of vorcnt.cfg in the current folder, else\n"
    "the current folder.\n"
    "  --json             print the report as JSON (schema 1)\n"
    "  --prometheus FILE  write gauges for a textfile collector to FILE, through\n"
    "                     a temporary file and a rename; print nothing\n"
    "  --history [FILE] [-n N]  the unit journal instead (--history --help)\n"
    "  --version          print the version and exit\n"
    "  --help             print this help and exit\n"
    "Exit status: 0 the report was made; 1 it could not be made (the folder is\n"
    "missing, cannot be read or is no client folder; FILE or standard output\n"
    "cannot be written), with one line on why; 2 bad usage.\n";

// The longest name read below a client folder: "unit15\user_info.vwu".
constexpr std::size_t kLongestInnerName = 20;

// The EXEC folder of vorcnt.cfg, read exactly as the controller reads it, or
// the current folder when there is none. Empty when the folder was refused:
// the controller would not work in the current folder then either.
std::string configured_path(std::string& errors) {
  ControllerContext ctx;
  SettingsNotes notes;
  read_config_file(ctx, notes);
  if (ctx.mode == Mode_error) {
    const std::string said = notes.text();
    std::size_t start = 0;
    while (start < said.size()) {
      std::size_t end = said.find('\n', start);
      if (end == std::string::npos) end = said.size();
      if (end > start) errors += "vorstat: vorcnt.cfg: " + said.substr(start, end - start) + "\n";
      start = end + 1;
    }
  }
  if (ctx.path_refused) return std::string();
  const std::string path(ctx.path, strnlen(ctx.path, sizeof ctx.path));
  return path.empty() ? "./" : path;
}

bool publish_metrics(const std::string& file, const std::string& text, std::string& errors) {
  std::string error;
  if (replace_file_atomically(file, text, error)) return true;
  errors += "vorstat: " + printable(error) + "\n";
  return false;
}

int usage_error(std::string& errors, const std::string& message) {
  errors += "vorstat: " + message + "\nUsage: vorstat [--json] [--prometheus FILE] [--version] [--help] [PATH]  (--help tells more)\n";
  return kBadUsage;
}

struct Request {
  bool json = false;
  bool help = false;
  bool version = false;
  bool prometheus = false;
  std::string metrics_file;
  bool have_path = false;
  std::string path;
};

// Reads the arguments into `req`; 0 when they are usable, else the exit
// status of a usage error (said in `errors`).
int parse_request(int argc, const char* const* argv, std::string& errors, Request& req) {
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_ended && arg == "--") {
      options_ended = true;
    } else if (!options_ended && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--json")
        req.json = true;
      else if (arg == "--help" || arg == "-h")
        req.help = true;
      else if (arg == "--version")
        req.version = true;
      else if (arg == "--prometheus") {
        if (i + 1 >= argc || argv[i + 1][0] == '\0') return usage_error(errors, "--prometheus needs a FILE");
        req.prometheus = true;
        req.metrics_file = argv[++i];
      } else
        return usage_error(errors, "unknown option '" + printable(arg) + "'");
    } else if (req.have_path) {
      return usage_error(errors, "give one folder only ('" + printable(req.path) + "' and '" + printable(arg) + "')");
    } else if (arg.empty()) {
      return usage_error(errors, "the folder name is empty");
    } else {
      req.have_path = true;
      req.path = arg;
    }
  }
  return 0;
}

// No report: `line` says why (empty when `errors` says it already). A
// monitoring system learns it from the metrics file too, not only from a
// log: the file then says the scrape failed and gives no figure it could
// not establish. `no_folder`: no client folder is there.
int not_made(const Request& req, std::string& errors, const std::string& line, bool no_folder) {
  if (!line.empty()) errors += "vorstat: " + line + "\n";
  if (req.prometheus) publish_metrics(req.metrics_file, format_prometheus_failed(no_folder), errors);
  return kReportNotMade;
}

// The client folder to read, in req.path; 0 when the report can see it,
// else the exit status (said in `errors`).
int find_client_folder(Request& req, std::string& errors) {
  std::string& path = req.path;
  if (req.have_path) {
    // Names are formed by appending to the folder, as the controller does.
    if (!ends_in_separator(path)) path += '/';
  } else {
    path = configured_path(errors);
    if (path.empty()) return not_made(req, errors, "", false);  // the reason is in `errors` already
  }
  if (path.size() + kLongestInnerName > kMaxFileName)
    return not_made(req, errors,
                    "the folder name is too long (" + std::to_string(path.size()) +
                        " bytes): the client's file names in it would pass 255 bytes",
                    false);
  const Sight sight = look_at_client_folder(path);
  const std::string shown = std::string("'").append(printable(path)).append("'");
  switch (sight.kind) {
    case Sight::Kind::seen:
      return 0;
    case Sight::Kind::missing:
      return not_made(req, errors, "no client folder at " + shown, true);
    case Sight::Kind::unreadable:
      return not_made(req, errors, "cannot read the client folder " + shown + ": " + printable(sight.why), false);
    case Sight::Kind::no_client:
      break;
  }
  return not_made(req, errors,
                  shown + " is no client folder: it holds no Vorelith.exe, none of the client's files, no unit0 "
                          "and no vorcnt.* file",
                  true);
}

void write_table(const BufferStatus& status, Console& out) {
  const std::vector<std::string> pieces = table_pieces(status);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i % 2 == 0)
      out.write(pieces[i]);
    else
      out.write_verbatim(pieces[i]);
  }
}

}  // namespace

int run_vorstat(int argc, const char* const* argv, Console& out, std::string& errors, std::int64_t now) {
  NullConsole unused;  // only the clock's zone is wanted; it never pauses here
  const std::unique_ptr<Clock> clock = make_real_clock(unused);
  if (wants_history(argc, argv)) return run_history(argc, argv, out, errors, *clock, now);
  Request req;
  if (const int status = parse_request(argc, argv, errors, req)) return status;
  if (req.help) {
    out.write(kUsage);
    out.write(kSeeAlso);
    return kReportMade;
  }
  if (req.version) {
    out.write("vorstat " VORCNT_VERSION "\n");
    return kReportMade;
  }
  if (const int status = find_client_folder(req, errors)) return status;

  BufferStatus status = read_buffer_status(req.path, now);
  status.outlook = buffer_outlook(status, *clock, now);
  if (req.prometheus)
    return publish_metrics(req.metrics_file, format_prometheus(status), errors) ? kReportMade : kReportNotMade;
  if (req.json)
    out.write(format_json(status));
  else
    write_table(status, out);
  return kReportMade;
}

}  // namespace vorcnt::vorstat
