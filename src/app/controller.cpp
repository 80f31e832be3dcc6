#include "app/controller.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/status_publisher.h"
#include "config/settings.h"
#include "engine/connect_window.h"
#include "engine/controller_status.h"
#include "engine/engine.h"
#include "engine/file_names.h"
#include "engine/unit_folders.h"
#include "engine/history.h"
#include "engine/stall_watch.h"
#include "engine/work_wait.h"
#include "ground/messages.h"
#include "platform/console.h"
#include "platform/language.h"
#include "platform/files.h"
#include "platform/log_file.h"
#include "platform/path_text.h"
#include "platform/session_lock.h"

namespace vorcnt {

const char kControllerVersion[] = "0.2\x83\xc0+6";  // 0.2β+6
const char kMonitorVersion[] = "0.6\x83\xbf" "6";   // 0.6α6

namespace {

const char* mode_name(std::int32_t mode) {
  switch (mode) {
    case Mode_calc: return "Mode_calc\n";
    case Mode_fill: return "Mode_fill\n";
    case Mode_verinfo: return "Mode_verinfo\n";
    case Mode_help: return "Mode_help\n";
    default: return "";  // Mode_error has never had a name here; the next label follows on.
  }
}

const char* state_name(std::int32_t state) {
  switch (state) {
    case Vorcon_CalcWait: return "Vorcon_CalcWait\n";
    case Vorcon_Calc: return "Vorcon_Calc\n";
    case Vorcon_CalcCompletion: return "Vorcon_CalcCompletion\n";
    case Vorcon_ConnectionWait: return "Vorcon_ConnectionWait\n";
    case Vorcon_Connection: return "Vorcon_Connection\n";
    case Vorcon_ConnectCompletion: return "Vorcon_ConnectCompletion\n";
    case Vorcnt_error: return "Vorcnt_error\n";
    default: return "";
  }
}

// A swap that failed is retried after a computing pass's wait, not every
// few seconds.
int swap_pause(const ControllerContext& ctx) { return ctx.failure_shown.empty() ? 5 : ctx.time; }

// Keeps what a retry prints until it is known whether the retry says
// anything new.
class HeldConsole final : public Console {
 public:
  void write(std::string_view bytes) override { pieces_.push_back({std::string(bytes), false}); }
  void write_verbatim(std::string_view bytes) override { pieces_.push_back({std::string(bytes), true}); }
  void flush() override {}
  void release(Console& to) const {
    for (const auto& [bytes, verbatim] : pieces_) {
      if (verbatim)
        to.write_verbatim(bytes);
      else
        to.write(bytes);
    }
  }

 private:
  std::vector<std::pair<std::string, bool>> pieces_;
};

// While a failure shows, a retry that fails the same way prints nothing: no
// step line of ours, and nothing from the interpreter. Once it clears, or
// fails another way, the retry's lines are printed as they came.
template <class Step>
void retry_quietly(Os& os, ControllerContext& ctx, Step step) {
  if (ctx.failure_shown.empty()) {
    step(os);
    return;
  }
  const std::string showing = ctx.failure_shown;
  HeldConsole held;
  Os quiet{os.shell, os.clock, held, os.disk};
  os.shell.set_quiet(true);
  step(quiet);
  os.shell.set_quiet(false);
  if (ctx.failure_shown != showing) held.release(os.console);
}

// Start-up checks made before any file moves, folder is made or client
// starts. Exit_ok, or, after one line that says what is wrong, the status
// the run ends with there.
int ready_to_start(Os& os, const ControllerContext& ctx, int closer_status) {
  if (could_not_start(closer_status)) {
    print(os, msg::kCloserFailed,
          closer_status);
    return Exit_unavailable;
  }
  if (ctx.path_refused) {
    // Falling back to the current folder would work somewhere not asked for.
    print(os, msg::kClientFolderRefused);
    return Exit_config;
  }
  const std::string path(ctx.path);
  const std::string shown = path.empty() ? std::string(".") : path;
  if (!path.empty() && !ends_in_separator(path)) {
    // The commands append names directly: "clientunit0" beside the folder.
    print(os, msg::kClientFolderNoSeparator, shown.c_str());
    return Exit_config;
  }
  if (!is_directory(shown.c_str())) {
    print(os, msg::kClientFolderNotFound, shown.c_str());
    return Exit_unavailable;
  }
  if (!path_exists(client_program(path.c_str()).c_str())) {
    print(os, msg::kClientFolderNoClient, shown.c_str());
    return Exit_unavailable;
  }
  return Exit_ok;
}

// A refused setting is what a run that went no further than it could ends
// on, whatever stopped it: 64 when the command line held it, else 78.
int refused_status(const ControllerContext& ctx, std::int32_t refused_in_file) {
  if (ctx.settings_refused > refused_in_file) return Exit_usage;
  return ctx.settings_refused > 0 ? Exit_config : Exit_ok;
}

}  // namespace

void print_help(Os& os) {
  print(os, msg::kHelpOptions);
  print_option_help(os);
}

void dump_context(Os& os, ControllerContext ctx) {
  print(os, msg::kDumpMode, mode_name(ctx.mode));
  print(os, msg::kDumpState, state_name(ctx.vorcnt_state));
  print_showing(os, ctx.path, msg::kDumpClientFolder, kVerbatim);
  print_showing(os, ctx.execfinish, msg::kDumpFinishCommand, kVerbatim);
  print(os, msg::kDumpUnits, ctx.units);
  print(os, msg::kDumpUnitsLocal, ctx.units_local);
  print(os, msg::kDumpCalculationUnit, ctx.calculation_unit);
  print(os, msg::kDumpProg, ctx.prog);
  print(os, msg::kDumpTime, ctx.time);
  print(os, msg::kDumpFill, ctx.fill);
  dump_settings(os, ctx);
  print(os, "\n");
}

bool loop_pass(Os& os, ControllerContext& ctx) {
  update_data_state(ctx);
  const bool acting = ctx.vorcnt_state >= Vorcon_CalcWait && ctx.vorcnt_state <= Vorcon_ConnectCompletion;
  if (acting && !is_unit_index(ctx.calculation_unit)) {
    // Every action works on the current unit; repeating one without it
    // would start the client on nothing or print the same failure for ever.
    print(os, msg::kNoCurrentUnitStop, ctx.calculation_unit);
    ctx.vorcnt_state = Vorcnt_error;
    ctx.stop_status = Exit_software;
  } else if (acting && ctx.pop_pending) {
    // Nothing runs in the client folder until the current unit is wholly
    // there; the retry waits as long as a computing pass.
    bool popped = false;
    retry_quietly(os, ctx, [&](Os& step_os) {
      popped = unitpop(step_os, ctx.calculation_unit, ctx.path, &ctx.failure_shown);
      record_pop(step_os, ctx, popped);
    });
    if (!popped) {
      os.clock.sleep_seconds(ctx.time);
      return true;
    }
    ctx.pop_pending = false;
  }
  int pause = 0;
  switch (ctx.vorcnt_state) {
    case Vorcon_CalcWait:
      print(os, msg::kCalcPrepare, ctx.calculation_unit);
      calc_start(os, ctx);
      print(os, msg::kCalcStarted, ctx.calculation_unit);
      pause = 5;
      break;
    case Vorcon_Calc:
      if (ctx.prog != 0) print(os, msg::kCalcProgress, ctx.calculation_unit, ctx.progress);
      if (calc_check(os, ctx) != 0) {
        pause = 5;
        break;
      }
      watch_client(os, ctx);
      pause = ctx.time;
      break;
    case Vorcon_CalcCompletion:
      retry_quietly(os, ctx, [&](Os& step_os) {
        print(step_os, msg::kCalcComplete, ctx.calculation_unit);
        unitswap(step_os, ctx);
      });
      pause = swap_pause(ctx);
      break;
    case Vorcon_ConnectionWait:
      // Outside the connection window the unit waits here; computing is
      // never held back, since nothing is left to compute in this state.
      if ((pause = work_wait_gate(os, ctx)) > 0) break;
      if ((pause = connect_window_wait(os, ctx)) > 0) break;
      print(os, msg::kConnectWait, ctx.calculation_unit);
      connect_start(os, ctx);
      pause = 20;
      break;
    case Vorcon_Connection:
      print(os, msg::kConnectGoingOn, ctx.calculation_unit);
      connect_check(os, ctx);
      // A client waiting for work that does not come is NOWORK's to end,
      // not a stall: restarting it would only ask again.
      if (ctx.vorcnt_state == Vorcon_Connection && !connection_waits_for_work(ctx)) watch_client(os, ctx);
      if (ctx.vorcnt_state == Vorcon_Connection) watch_for_work(os, ctx);
      pause = 10;
      break;
    case Vorcon_ConnectCompletion:
      retry_quietly(os, ctx, [&](Os& step_os) {
        print(step_os, msg::kConnectComplete, ctx.calculation_unit);
        unitswap(step_os, ctx);
      });
      pause = swap_pause(ctx);
      break;
    default:
      os.clock.sleep_seconds(0);
      return false;
  }
  os.clock.sleep_seconds(pause);
  return true;
}

void main_loop(Os& os, ControllerContext& ctx) {
  while (loop_pass(os, ctx)) {
  }
}

namespace {

// A stop from outside ends the run through exit(), past every frame below:
// the service manager still hears that the controller is stopping.
ServiceNotifier* g_stopping_notifier = nullptr;
void say_stopping() {
  if (g_stopping_notifier != nullptr) g_stopping_notifier->send("STOPPING=1");
}
struct StoppingNotice {
  explicit StoppingNotice(ServiceNotifier& notifier) {
    if (!notifier.active()) return;
    static const bool registered = std::atexit(say_stopping) == 0;
    if (registered) g_stopping_notifier = &notifier;
  }
  ~StoppingNotice() { g_stopping_notifier = nullptr; }
  StoppingNotice(const StoppingNotice&) = delete;
  StoppingNotice& operator=(const StoppingNotice&) = delete;
};

// The run after the start-up checks and the recovery: the service manager
// hears that it is ready, and each state from the pause that follows it.
void run_loop(Os& os, ControllerContext& ctx, ServiceNotifier& notifier) {
  StatusPublisher publisher(notifier, os.clock.now_utc());
  const std::unique_ptr<Clock> publishing = make_publishing_clock(os.clock, publisher, ctx);
  Os running{os.shell, *publishing, os.console, os.disk};
  // A start-up that left nothing to do (settings in error, folders the run
  // cannot go on with) ends at the first pass: it never was ready, and
  // "systemctl start" must say that the start failed.
  if (ctx.vorcnt_state != Vorcnt_error) notifier.send("READY=1");
  running.clock.sleep_seconds(5);
  main_loop(running, ctx);
  publisher.publish(os.clock, ctx);
  notifier.send("STOPPING=1");
}


// The run, once the settings are known.
// `refused` is the status the settings already call for, if any.
int run_controller(Os& os, ControllerContext& ctx, const SettingsNotes& settings_notes, int refused,
                   ServiceNotifier& notifier) {
  // A run that ends before its banner for want of the guard still says what
  // its settings refused, and that status comes first: starting it again
  // later would only be refused again.
  const auto ends_unguarded = [&] {
    if (refused == Exit_ok) return static_cast<int>(Exit_tempfail);
    settings_notes.print(os);
    return refused;
  };
  // One controller per client folder.
  ControllerLock lock;
  if (lock.take(ctx.path) == ControllerLock::Outcome::held) {
    const int status = ends_unguarded();
    print(os, msg::kAnotherController, ctx.path[0] == '\0' ? "." : ctx.path);
    return status;
  }
  // Without the session lock, the closer order might stop another
  // controller's client: no guard, no order.
  SessionLock session;
  switch (session.take()) {
    case SessionLock::Outcome::taken:
      break;
    case SessionLock::Outcome::held: {
      const int status = ends_unguarded();
      print(os, "%s", tr(msg::kAnotherControllerInSession));
      return status;
    }
    case SessionLock::Outcome::unavailable: {
      const int status = ends_unguarded();
      print(os, msg::kSessionLockUnavailable, session.problem().c_str());
      return status;
    }
  }
  // The status an earlier run left would read as this run's, its pid and
  // state with our lock, until the loop publishes ours; the recovery and
  // the moves before it can take minutes. Until then vorstat says only that
  // a controller runs.
  if (ctx.mode != Mode_verinfo && ctx.mode != Mode_help)
    (void)remove_file(client_file(ctx.path, kStatusFileName));

  // No client may be running while the folders are scanned and moved.
  const int closer_status = run_command(os, "vorclose.exe -exit -echo off");

  std::memcpy(ctx.controller_version, kControllerVersion, sizeof kControllerVersion);
  std::memcpy(ctx.monitor_version, kMonitorVersion, sizeof kMonitorVersion);
  print(os, msg::kControllerBanner, ctx.controller_version);
  print(os, msg::kMonitorBanner, ctx.monitor_version);
  settings_notes.print(os);
  // -version and -help need no closer, but the interpreter has said that it
  // found none; say what that means. Without an interpreter nothing was said.
  if ((ctx.mode == Mode_verinfo || ctx.mode == Mode_help) && closer_status != -1 && could_not_start(closer_status))
    print(os, msg::kCloserNotFoundForInfo, closer_status);

  if (ctx.mode == Mode_verinfo) return Exit_ok;
  if (ctx.mode == Mode_help) {
    print_help(os);
    return Exit_ok;
  }
  if (const int status = ready_to_start(os, ctx, closer_status); status != Exit_ok)
    return refused != Exit_ok ? refused : status;

  load_work_waits(os, ctx);
  unitscan(os, ctx);
  dump_context(os, ctx);
  run_loop(os, ctx, notifier);
  // A fresh client folder without -fill stops at once with nothing to do;
  // say what would have given it work. Starting it again as it is would do
  // the same: a setting is what it lacks.
  const bool fresh = ctx.mode == Mode_calc && ctx.vorcnt_state == Vorcnt_error && count_unit_folders(ctx.path) == 0;
  if (fresh) print(os, "%s", tr(msg::kFreshFolderNeedsFill));
  // The loop ends by itself only on a stop: with settings in error after
  // what they allowed, or on what the folders hold.
  if (refused != Exit_ok) return refused;
  if (ctx.stop_status != Exit_ok) return ctx.stop_status;
  return fresh ? Exit_config : Exit_unavailable;
}

}  // namespace

int controller_main(Os& outer_os, int argc, char** argv) {
  // With a service manager's watchdog, every pause is cut so that a live
  // loop keeps pinging it; without one the seam is used as given.
  ServiceNotifier notifier;
  std::unique_ptr<Clock> pinging;
  if (notifier.ping_interval_ms() > 0) pinging = make_pinging_clock(outer_os.clock, notifier);
  const StoppingNotice stopping(notifier);
  Os os{outer_os.shell, pinging ? *pinging : outer_os.clock, outer_os.console, outer_os.disk};

  // The settings are read once, first: the client folder they name is what
  // the lock below guards. What they have to say waits until the closer has
  // had its order and the banner is out.
  ControllerContext ctx;
  SettingsNotes settings_notes;
  read_config_file(ctx, settings_notes);
  const std::int32_t refused_in_file = ctx.settings_refused;
  parse_command_line(argc, argv, ctx, settings_notes);
  const int refused = refused_status(ctx, refused_in_file);
  if (ctx.log[0] == '\0') return run_controller(os, ctx, settings_notes, refused, notifier);
  // Nothing has been printed yet, so the log gets every line of the run.
  LogConsole log(os.console, os.clock, ctx.log, {msg::kLogWriteFailed, msg::kLogWriteResumed});
  Os logged{os.shell, os.clock, log, os.disk};
  // A stop by hand ends the run past this frame: its note goes to the log too.
  set_stop_console(&log);
  const int status = run_controller(logged, ctx, settings_notes, refused, notifier);
  set_stop_console(nullptr);
  return status;
}

}  // namespace vorcnt
