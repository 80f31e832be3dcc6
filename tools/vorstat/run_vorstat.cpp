// The program around the report: its arguments, the folder to read, and
// where the report goes (the console, or the metrics file).
#include <cstring>

#include "config/settings.h"
#include "folder_marks.h"
#include "ground/context.h"
#include "history_report.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/language.h"
#include "platform/null_os.h"
#include "platform/path_text.h"
#include "report_text.h"
#include "vorstat_report.h"

namespace vorcnt::vorstat {

namespace {

#ifndef VORCNT_VERSION
#define VORCNT_VERSION "unknown"
#endif

constexpr char kUsage[] = N_(
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
    "cannot be written), with one line on why; 2 bad usage.\n");

// The longest name read below a client folder: "unit15\user_info.vwu".
constexpr std::size_t kLongestInnerName = 20;

// Each line written to it goes on to `out` behind "vorstat: vorcnt.cfg: ".
class CfgNotes final : public Console {
 public:
  explicit CfgNotes(Console& out) : out_(out) {}
  void write(std::string_view bytes) override { pass(bytes, false); }
  void write_verbatim(std::string_view bytes) override { pass(bytes, true); }
  void flush() override {}
  // Ends a last line that has no line end.
  void finish() {
    if (!line_start_) out_.write("\n");
    line_start_ = true;
  }

 private:
  void pass(std::string_view bytes, bool verbatim) {
    while (!bytes.empty()) {
      if (line_start_ && bytes.front() == '\n') {  // an empty line says nothing
        bytes.remove_prefix(1);
        continue;
      }
      if (line_start_) out_.write("vorstat: vorcnt.cfg: ");
      const std::size_t end = bytes.find('\n');
      const std::string_view part = bytes.substr(0, end == std::string_view::npos ? bytes.size() : end + 1);
      if (verbatim)
        out_.write_verbatim(part);
      else
        out_.write(part);
      line_start_ = part.back() == '\n';
      bytes.remove_prefix(part.size());
    }
  }
  Console& out_;
  bool line_start_ = true;
};

// The EXEC folder of vorcnt.cfg, read exactly as the controller reads it, or
// the current folder when there is none. Empty when the folder was refused:
// the controller would not work in the current folder then either.
std::string configured_path(Console& errors) {
  ControllerContext ctx;
  SettingsNotes notes;
  read_config_file(ctx, notes);
  if (ctx.mode == Mode_error) {
    // The notes as the controller prints them: the path they name unchanged.
    CfgNotes said(errors);
    NullOs null;
    Os os{null.shell, null.clock, said};
    notes.print(os);
    said.finish();
  }
  if (ctx.path_refused) return std::string();
  const std::string path(ctx.path, strnlen(ctx.path, sizeof ctx.path));
  return path.empty() ? "./" : path;
}

int usage_error(Console& errors, const std::string& line, std::initializer_list<std::string_view> shown = {}) {
  say(errors, line, shown);
  errors.write(tr("Usage: vorstat [--json] [--prometheus FILE] [--version] [--help] [PATH]  (--help tells more)\n"));
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
int parse_request(int argc, const char* const* argv, Console& errors, Request& req) {
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
        if (i + 1 >= argc || argv[i + 1][0] == '\0') return usage_error(errors, tr("vorstat: --prometheus needs a FILE\n"));
        req.prometheus = true;
        req.metrics_file = argv[++i];
      } else
        return usage_error(errors, format_text(N_("vorstat: unknown option '%s'\n"), kVerbatim), {printable(arg)});
    } else if (req.have_path) {
      return usage_error(errors, format_text(N_("vorstat: give one folder only ('%s' and '%s')\n"), kVerbatim, kVerbatim),
                         {printable(req.path), printable(arg)});
    } else if (arg.empty()) {
      return usage_error(errors, tr("vorstat: the folder name is empty\n"));
    } else {
      req.have_path = true;
      req.path = arg;
    }
  }
  return 0;
}

// No report: `line` says why, with `shown` where kVerbatim stands (empty
// when `errors` says it already). A monitoring system learns it from the
// metrics file too, not only from a log: the file then says the scrape
// failed and gives no figure it could not establish. `no_folder`: no client
// folder is there.
int not_made(const Request& req, Console& errors, const std::string& line, std::string_view shown, bool no_folder) {
  if (!line.empty()) say(errors, line, {shown});
  if (req.prometheus) replace_file_atomically(req.metrics_file, format_prometheus_failed(no_folder), errors);
  return kReportNotMade;
}

// The client folder to read, in req.path; 0 when the report can see it,
// else the exit status (said in `errors`).
int find_client_folder(Request& req, Console& errors) {
  std::string& path = req.path;
  if (req.have_path) {
    // Names are formed by appending to the folder, as the controller does.
    if (!ends_in_separator(path)) path += '/';
  } else {
    path = configured_path(errors);
    if (path.empty()) return not_made(req, errors, "", "", false);  // the reason is in `errors` already
  }
  if (path.size() + kLongestInnerName > kMaxFileName)
    return not_made(req, errors,
                    format_text(N_("vorstat: the folder name is too long (%d bytes): the client's file names in it "
                                   "would pass 255 bytes\n"),
                                static_cast<int>(path.size())),
                    "", false);
  const Sight sight = look_at_client_folder(path);
  const std::string shown = printable(path);
  switch (sight.kind) {
    case Sight::Kind::seen:
      return 0;
    case Sight::Kind::missing:
      return not_made(req, errors, format_text(N_("vorstat: no client folder at '%s'\n"), kVerbatim), shown, true);
    case Sight::Kind::unreadable:
      return not_made(req, errors,
                      format_text(N_("vorstat: cannot read the client folder '%s': %s\n"), kVerbatim,
                                  printable(sight.why).c_str()),
                      shown, false);
    case Sight::Kind::no_client:
      break;
  }
  return not_made(req, errors,
                  format_text(N_("vorstat: '%s' is no client folder: it holds no Vorelith.exe, none of the client's "
                                 "files, no unit0 and no vorcnt.* file\n"),
                              kVerbatim),
                  shown, true);
}

}  // namespace

int run_vorstat(int argc, const char* const* argv, Console& out, Console& errors, std::int64_t now) {
  NullConsole unused;  // only the clock's zone is wanted; it never pauses here
  const std::unique_ptr<Clock> clock = make_real_clock(unused);
  if (wants_history(argc, argv)) return run_history(argc, argv, out, errors, *clock, now);
  Request req;
  if (const int status = parse_request(argc, argv, errors, req)) return status;
  if (req.help) {
    out.write(tr(kUsage));
    out.write(tr(kSeeAlso));
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
    return replace_file_atomically(req.metrics_file, format_prometheus(status), errors) ? kReportMade : kReportNotMade;
  if (req.json)
    out.write(format_json(status));
  else
    write_pieces(table_pieces(status), out);
  return kReportMade;
}

}  // namespace vorcnt::vorstat
