// The controller's own texts, as the CP932 bytes the console receives. Each
// console line is one whole format, named by what it tells the user, so that
// a line seen there is found here; a user's text in it (a path, a command)
// is printed with print_showing, which keeps it as it was given.
// The lines this program adds to the client's own are marked N_: they are
// printed in the user's language (po/). The others keep their bytes in every
// language, and so do the names and forms of settings.
#pragma once

#include "platform/language.h"

namespace vorcnt::msg {

inline constexpr char kControllerBanner[] = "Vorelith Client Controler Version %s\n";
inline constexpr char kMonitorBanner[] = "Vorelith Client Monitor Version %s\n";

// "[Unit%d] Data" followed by: 計算準備, 計算開始, 計算中：%f%, 計算完了,
// 交信待機, 交信継続, 交信完了.
inline constexpr char kCalcPrepare[] = "[Unit%d] Data\x8c" "v\x8e" "Z\x8f\x80\x94\xf5\n";
inline constexpr char kCalcStarted[] = "[Unit%d] Data\x8c" "v\x8e" "Z\x8a" "J\x8e" "n\n";
// The progress line ends in a literal percent sign.
inline constexpr char kCalcProgress[] = "[Unit%d] Data\x8c" "v\x8e" "Z\x92\x86\x81" "F%f%%\n";
inline constexpr char kCalcComplete[] = "[Unit%d] Data\x8c" "v\x8e" "Z\x8a\xae\x97\xb9\n";
inline constexpr char kConnectWait[] = "[Unit%d] Data\x8c\xf0\x90" "M\x91\xd2\x8b" "@\n";
inline constexpr char kConnectGoingOn[] = "[Unit%d] Data\x8c\xf0\x90" "M\x8c" "p\x91\xb1\n";
inline constexpr char kConnectComplete[] = "[Unit%d] Data\x8c\xf0\x90" "M\x8a\xae\x97\xb9\n";

// The controller: start-up refusals, help and dump.
inline constexpr char kCloserFailed[] =
    N_("vorclose could not be run (status %d): a running client could not be stopped; nothing is started\n");
inline constexpr char kCloserNotFoundForInfo[] =
    N_("vorclose could not be run (status %d), so the command interpreter said it is not found: put the client's "
       "vorclose.exe in this folder or on PATH\n");
inline constexpr char kClientFolderRefused[] =
    N_("The client folder setting was refused: nothing is started; correct EXEC or -exec\n");
inline constexpr char kClientFolderNoSeparator[] =
    N_("Client folder %s does not end in a folder separator: nothing is started\n");
inline constexpr char kClientFolderNotFound[] = N_("Client folder %s not found: nothing is started\n");
inline constexpr char kClientFolderNoClient[] =
    N_("Client folder %s holds no Vorelith.exe: nothing is started\n");
inline constexpr char kHelpOptions[] = "options:\n";
inline constexpr char kHelpVersion[] = "\t-version            show version info\n";
inline constexpr char kHelpHelp[] = "\t-help               show help info\n";
inline constexpr char kHelpExec[] = "\t-exec PATH          Vorelith Client PATH\n";
inline constexpr char kHelpFill[] = "\t-fill               Send result & get New work_unit\n";
inline constexpr char kHelpUnits[] =
    "\t-units N            Number of work_unit buffer. default=2 1<=N<=16\n";
inline constexpr char kHelpProg[] = "\t-prog               show Vorelith Progress.\n";
inline constexpr char kHelpTime[] =
    "\t-time N             Polling Time. default=120Sec 120Sec<=N<=36000Sec\n";
inline constexpr char kHelpExecfinish[] =
    "\t-execfinish COMMAND Execute command if finished run Vorelith.\n";
// The options added since, each after the ones above.
inline constexpr char kHelpConnect[] = N_("\t-connect FROM-TO    Connect only from FROM to TO (local HH:MM-HH:MM).\n");
inline constexpr char kHelpExecempty[] = N_("\t-execempty COMMAND  Execute command if no work_unit is left to compute.\n");
inline constexpr char kHelpStall[] =
    N_("\t-stall MINUTES      Restart Vorelith if its files do not change for MINUTES. 1<=N<=100000\n");
inline constexpr char kHelpNowork[] =
    N_("\t-nowork MINUTES     End a connection that gets no new work after MINUTES and retry later. 1<=N<=100000\n");
inline constexpr char kHelpLog[] = N_("\t-log FILE           Copy every line to FILE (UTF-8), with the time.\n");
inline constexpr char kDumpMode[] = "mode:%s";
inline constexpr char kDumpState[] = "vorcnt_state:%s";
inline constexpr char kDumpClientFolder[] = "path:%s\n";
inline constexpr char kDumpFinishCommand[] = "execfinish:%s\n";
inline constexpr char kDumpUnits[] = "Units:%d\n";
inline constexpr char kDumpUnitsLocal[] = "Units_local:%d\n";
inline constexpr char kDumpCalculationUnit[] = "calculation_unit:%d\n";
inline constexpr char kDumpProg[] = "prog:%d\n";
inline constexpr char kDumpTime[] = "time:%d\n";
inline constexpr char kDumpFill[] = "fill:%d\n";
inline constexpr char kNoCurrentUnitStop[] =
    N_("No unit is current (%d): nothing can be computed or sent; stopping\n");
inline constexpr char kFreshFolderNeedsFill[] =
    N_("No unit folders yet: start once with -fill (or a FILL line) to make them and fetch work\n");
inline constexpr char kAnotherController[] =
    N_("Another vorcnt is working on the client folder %s: this one ends\n");
inline constexpr char kAnotherControllerInSession[] =
    N_("Another vorcnt is running for this user; its client would be stopped: this one ends\n");
inline constexpr char kSessionLockUnavailable[] =
    N_("The one-controller-per-user lock cannot be made (%s), so no client is stopped: this one ends\n");
// The last line of a stop by hand while the client works: it goes on.
inline constexpr char kStopClientComputing[] =
    N_("Stopped; the client goes on computing unit%d: \"vorclose -exit\" ends it\n");
inline constexpr char kStopClientConnecting[] =
    N_("Stopped; the client goes on connecting for unit%d: \"vorclose -exit\" ends it\n");

// Opt-in settings.
inline constexpr char kConnectValueMalformed[] =
    N_("connect window ignored: '%.*s' is not HH:MM-HH:MM; connecting at any time\n");
inline constexpr char kOptInValueTooLong[] = N_("bad arg: %s longer than 254 characters\n");
inline constexpr char kConnectLineMalformed[] =
    N_("connect window ignored: write it as %s; connecting at any time\n");
inline constexpr char kOptInLineMalformed[] = "bad arg: %s\n";
// How each opt-in line is written, and its name in the refusals.
inline constexpr char kFormConnect[] = "CONNECT = HH:MM-HH:MM";
inline constexpr char kFormHistory[] = "HISTORY = FILE";
inline constexpr char kFormExecempty[] = "EXECEMPTY = COMMAND";
inline constexpr char kFormLog[] = "LOG = FILE";
inline constexpr char kNameConnect[] = "connect";
inline constexpr char kNameHistory[] = "history";
inline constexpr char kNameExecempty[] = "execempty";
inline constexpr char kNameLog[] = "log";
inline constexpr char kOverlongValueShownAs[] = N_("(a line longer than 254 characters)");
inline constexpr char kConnectOptionWithoutValue[] =
    N_("connect window ignored: -connect needs HH:MM-HH:MM; connecting at any time\n");
inline constexpr char kExecemptyOptionWithoutValue[] = "bad arg: -execempty COMMAND\n";
inline constexpr char kDumpConnect[] = "connect:%s-%s\n";
inline constexpr char kDumpJournal[] = "history:%s\n";
inline constexpr char kDumpEmptyHook[] = "execempty:%s\n";
inline constexpr char kLogOptionWithoutValue[] = "bad arg: -log FILE\n";
inline constexpr char kDumpLog[] = "log:%s\n";
// The log: its path where the first %s stands.
inline constexpr char kLogWriteFailed[] = N_("log: cannot write %s (%s); the run goes on without it\n");
inline constexpr char kLogWriteResumed[] = N_("log: %s is written again\n");
inline constexpr char kStallValueMalformed[] =
    N_("stall watch ignored: '%.*s' is not a number of minutes from 1 to 100000; the client is never restarted\n");
inline constexpr char kStallLineMalformed[] =
    N_("stall watch ignored: write it as STALL = MINUTES; the client is never restarted\n");
inline constexpr char kStallOptionWithoutValue[] =
    N_("stall watch ignored: -stall needs MINUTES; the client is never restarted\n");
inline constexpr char kDumpStall[] = "stall:%d\n";
inline constexpr char kNoWorkValueMalformed[] =
    N_("no-work limit ignored: '%.*s' is not a number of minutes from 1 to 100000; a connection waits for work as "
       "long as it takes\n");
inline constexpr char kNoWorkLineMalformed[] =
    N_("no-work limit ignored: write it as NOWORK = MINUTES; a connection waits for work as long as it takes\n");
inline constexpr char kNoWorkOptionWithoutValue[] =
    N_("no-work limit ignored: -nowork needs MINUTES; a connection waits for work as long as it takes\n");
inline constexpr char kDumpNoWork[] = "nowork:%d\n";

// Settings: vorcnt.cfg and the command line.
// Our own refusals of values that cannot be held or used safely.
inline constexpr char kPathTooLong[] = N_("bad arg: path longer than 118 characters\n");
inline constexpr char kExecFinishTooLong[] = N_("bad arg: execfinish longer than 254 characters\n");
inline constexpr char kArgumentTooLong[] = N_("bad arg: argument longer than 255 characters\n");
// Kept word for word in every language, as users and their notes know it;
// the line after it says what to do.
inline constexpr char kPathHasBlank[] = "bad arg: path holds a blank\n";
// After it: the setting (EXEC or -exec), its value, and the fix.
inline constexpr char kPathBlankFix[] = N_("%s \"%s\" holds a blank: %s\n");
inline constexpr char kPathHasControlCharacter[] = N_("bad arg: path holds a control character\n");
inline constexpr char kExecNamesNoFolder[] =
    N_("bad arg: EXEC names no folder: end the client folder with a folder separator\n");
inline constexpr char kPathHasShellCharacter[] =
    N_("bad arg: path holds the character %c, which the command interpreter reads specially\n");
inline constexpr char kUnitsLineMalformed[] = "vorcnt.cfg bad arg: units = %s\n";
inline constexpr char kSettingsFileUnreadable[] = "vorcnt.cfg open error!\n";
inline constexpr char kSettingsUtf16Unconvertible[] =
    N_("vorcnt.cfg is saved as UTF-16 (%s) and its line %d has no %s form: save it as %s; none of its settings are "
       "used\n");
inline constexpr char kSettingsUtf16TooBig[] =
    N_("vorcnt.cfg is saved as UTF-16 (%s) and is over 1 MiB: save it as %s; none of its settings are used\n");
inline constexpr char kSettingsUtf8Unconvertible[] =
    N_("vorcnt.cfg is saved as UTF-8 (%s) and its line %d has no %s form: save it as %s; none of its settings are "
       "used\n");
inline constexpr char kSettingsUtf8TooBig[] =
    N_("vorcnt.cfg is saved as UTF-8 (%s) and is over 1 MiB: save it as %s; none of its settings are used\n");
inline constexpr char kSettingsUtf8Invalid[] =
    N_("vorcnt.cfg starts with a UTF-8 byte-order mark but its line %d is not UTF-8: save it as %s; none of its "
       "settings are used\n");
inline constexpr char kUnitsOptionRefused[] = "bad arg: -units %s\n";
inline constexpr char kFillOptionEcho[] = "fill:%s\n";
inline constexpr char kFillOptionRefused[] = "bad arg: -fill %s\n";
inline constexpr char kSettingUnknown[] = "bad arg: %s\n";
inline constexpr char kExecOptionWithoutValue[] = "bad arg: -path N\n";
inline constexpr char kExecLineWithoutValue[] = "bad arg: path = c:\\progra~1\\vorelith\\\n";
inline constexpr char kExecfinishWithoutValue[] = "bad arg: -execfinish N\n";
inline constexpr char kUnitsOptionWithoutValue[] = "bad arg: -units N\n";
inline constexpr char kUnitsLineWithoutValue[] = "vorcnt.cfg bad arg: units = N\n";
inline constexpr char kTimeWithoutValue[] = "bad arg: -time N\n";

// Engine: client actions.
inline constexpr char kStateOfNoUnitNotRecorded[] = N_("No unit is current (%d): its state %d is not recorded\n");
inline constexpr char kFinishCommandShown[] = "strlen:%s\n";
inline constexpr char kExecfinishLength[] = "strlen:%d\n";
inline constexpr char kClientConnectStarted[] = "[Unit%d] Data Conection Start.\n";
inline constexpr char kClientConnectEnded[] = "[Unit%d] Data Conection Compleate.\n";
inline constexpr char kEmptyHookNotStarted[] = N_("execempty: could not start '%s'\n");
inline constexpr char kEmptyHookFailed[] = N_("execempty: '%s' ended with status %d\n");

// Engine: connect window.
inline constexpr char kConnectWaitsForWindow[] =
    N_("[Unit%d] connection waits for the window %s-%s: it opens at %s, in %dh%02dm\n");

// Engine: stall watch.
inline constexpr char kStallRestarting[] =
    N_("[Unit%d] the client's files have not changed for %s while %s: restarting the client (%d of %d)\n");
inline constexpr char kStallRestartsStopped[] =
    N_("[Unit%d] the client's files have not changed for %s while %s, after %d restarts: no more restarts; "
       "check the client, this unit stays where it is and is still watched\n");

// Engine: a project with no work.
inline constexpr char kProjectDry[] =
    N_("[Unit%d] the project has no work: none came for %s, so the connection ends; this unit asks again at %s, "
       "after a pause of %s\n");
inline constexpr char kWorkCameAgain[] = N_("[Unit%d] the project has work again: new work came after %s of waiting\n");
inline constexpr char kWorkWaitKept[] = N_("[Unit%d] waits for work: it asks again at %s, in %s\n");
inline constexpr char kWorkWaitUnreadable[] = N_("%s cannot be used (%s): no unit waits for work\n");
inline constexpr char kWorkWaitNotWritten[] =
    N_("cannot write %s (%s): after a restart the units waiting for work would ask at once\n");

// Engine: history.
inline constexpr char kJournalWriteFailed[] = N_("history: cannot write %s (%s); the buffer goes on without it\n");
inline constexpr char kJournalWriteResumed[] = N_("history: %s is written again\n");

// Engine: interrupted move.
inline constexpr char kFinishMoveRemoveCopies[] =
    N_("[Unit%d] finishing an interrupted move: the client folder holds copies of unit%d's files, removing them\n");
inline constexpr char kFinishMoveCopiesStay[] =
    N_("[Unit%d] the copies in the client folder could not be removed; stopping\n");
inline constexpr char kFinishMoveCompletePush[] =
    N_("[Unit%d] finishing an interrupted move: unit%d holds part of the client folder's files, completing the push\n");

// Engine: recovery from a move record. %s after "[Unit%d]" is "push" or "pop".
inline constexpr char kRecordFinishing[] =
    N_("[Unit%d] finishing an interrupted %s: every file arrived whole, removing the originals\n");
inline constexpr char kRecordUndoing[] =
    N_("[Unit%d] undoing an interrupted %s: the originals are whole, removing the copies\n");
inline constexpr char kRecordAlreadyDone[] = N_("[Unit%d] the interrupted %s had finished; its record is removed\n");
// These lines name the record's path, written as it stands.
inline constexpr char kRecordNeitherEndWhole[] =
    N_("[Unit%d] interrupted %s: neither end holds every file whole, so nothing is touched; check the files "
       "with vorstat, put the unit right by hand, delete %s and restart\n");
inline constexpr char kRecordCutShort[] =
    N_("The move record %s was cut short while it was written; its move never began, so it is emptied\n");
inline constexpr char kRecordUnusable[] =
    N_("The move record %s cannot be used (%s); nothing is repaired: check the folders with vorstat, then delete it and restart\n");
inline constexpr char kRecordUnitNotInUse[] =
    N_("The move record %s names unit%d, which is not a unit folder in use (they end before unit%d); nothing is "
       "repaired: check the folders with vorstat, then delete it and restart\n");
inline constexpr char kRecordCouldNotRepair[] =
    N_("[Unit%d] the interrupted %s could not be put right (%s); stopping: correct it and restart\n");
inline constexpr char kStrayFilesSetAside[] = N_("%s: files that are not what the move record says set aside in %s (%s)\n");
inline constexpr char kStrayFilesNotSetAside[] =
    N_("%s: files could not be set aside in %s; remove them by hand before the client uses them\n");
inline constexpr char kUnitFolderNotOwn[] =
    N_("unit%d is the same folder as %s: nothing is moved while a unit folder is not a folder of its own; "
       "make it one and restart\n");

// Engine: unit move.
inline constexpr char kPushWithoutUnit[] =
    N_("push skipped: no unit is current (%d), the client folder's files stay in place\n");
inline constexpr char kPushBegins[] = "[Unit%d] push\n";
inline constexpr char kPopWithoutUnit[] = N_("pop skipped: no unit is current (%d), nothing is moved\n");
inline constexpr char kPopBegins[] = "[Unit%d] pop\n";
inline constexpr char kOutputFileMissing[] = "outfile.vwu not found!\n";
// A failed move is one line: the unit, the move, the reason, and what became
// of the files. The reason (%s) is one of the texts below; a pop names its
// unit twice.
inline constexpr char kPushFailedKeptInClient[] = N_("[Unit%d] push failed: %s, files kept in the client folder\n");
inline constexpr char kPopFailedKeptInUnit[] = N_("[Unit%d] pop failed: %s, files kept in unit%d\n");
inline constexpr char kPushNotAFolder[] = N_("[Unit%d] push failed: unit%d is not a folder, files kept\n");
inline constexpr char kPushSameFolder[] = N_("[Unit%d] push failed: unit%d is the same folder as %s, files kept\n");
inline constexpr char kPopSameFolder[] =
    N_("[Unit%d] pop failed: unit%d is the same folder as %s, files kept in unit%d\n");
// A move whose files all arrived: its record stays, or an earlier failure
// has cleared. %s after "[Unit%d]" is the move's name.
inline constexpr char kRecordNotEmptied[] = N_("[Unit%d] %s: the move record could not be emptied (%s)\n");
inline constexpr char kMoveRecovered[] = N_("[Unit%d] %s: the earlier failure has cleared\n");
inline constexpr char kPushName[] = "push";
inline constexpr char kPopName[] = "pop";
// The reasons a move failed.
inline constexpr char kRecordNotWritten[] = N_("the move record could not be written (%s)");
// Why a name was not written, renamed or removed, in place of the system's
// text: a link (or another name of the file) that the controller did not make.
inline constexpr char kNameIsAForeignLink[] = N_("it is a link the controller did not make; nothing is done through it");
inline constexpr char kNotOnDisk[] = N_("%s could not be written to the disk (%s)");
inline constexpr char kSourceStayedUndone[] = N_("%s could not be deleted, the copies were removed");
inline constexpr char kSourceStayedBecauseUndone[] = N_("%s could not be deleted (%s), the copies were removed");
inline constexpr char kSourceStayedNotUndone[] = N_("%s could not be deleted, and the copies could not all be removed");
inline constexpr char kSourceStayedBecauseNotUndone[] =
    N_("%s could not be deleted (%s), and the copies could not all be removed");
inline constexpr char kSourcesUnlisted[] = N_("%s cannot be read");
inline constexpr char kSourcesUnlistedUndone[] = N_("cannot read the folder %s, the copies were removed");
inline constexpr char kSourcesUnlistedNotUndone[] =
    N_("cannot read the folder %s, and the copies could not all be removed");
inline constexpr char kSourceNameHasLineBreak[] = N_("a file name holds a line break");
// Why an interrupted move could not be put right.
inline constexpr char kRecordStays[] = N_("vorcnt.move stays: %s");
inline constexpr char kFileNotRemovedOrSetAside[] = N_("a file could not be removed or set aside");
// Why a copy was not taken as whole.
inline constexpr char kSourceFolderUnlisted[] = N_("cannot read the folder %s");
inline constexpr char kCopyAbsent[] = N_("%s did not arrive");
inline constexpr char kDestinationIsALink[] =
    N_("%s where the copy goes is a link the controller did not make; nothing is copied through it");
inline constexpr char kSourceAppeared[] = N_("%s appeared during the move");
inline constexpr char kDestinationUnwritable[] = N_("%s cannot be written (%s)");
inline constexpr char kSourceFileUnreadable[] = N_("%s cannot be read (%s)");
inline constexpr char kCopyBytesDiffer[] = N_("%s arrived with other bytes");
inline constexpr char kCopyStatusFailed[] = N_("the copy failed (status %d)");
inline constexpr char kUnitHomeSettingsInError[] =
    N_("[Unit%d] is home; the settings are in error, so nothing more is done: correct them and restart\n");

// Engine: unit scan.
inline constexpr char kScanUnitFound[] = "[unit%d] Dir find : %d\n";
inline constexpr char kScanUnitsPastLimit[] = N_("unit%d and above are not used: 16 unit folders at most\n");
inline constexpr char kScanUnitMadeForFill[] = "[Unit%d] Dir maiking. : %d\n";
inline constexpr char kScanNoFreeUnit[] =
    N_("No free unit folder: all %d are in use and the client folder holds work; free one and restart\n");
inline constexpr char kScanUnitNotAFolder[] =
    N_("unit%d is not a folder: it is passed over like a missing unit folder, and no unit folder from unit%d up is used\n");
inline constexpr char kScanNoHomeNotAFolder[] =
    N_("The client folder holds work and its new unit folder, unit%d, is not a folder: nothing is moved; remove that "
       "name and restart\n");
inline constexpr char kScanUnitMadeForClientWork[] = "[Unit%d] Dir maiking SUB. : %d\n";
inline constexpr char kHalfMoveInError[] =
    N_("The client folder holds a move that was stopped halfway; the settings are in error, so it is left as it is: correct them and restart\n");
inline constexpr char kNoWorkInError[] =
    N_("The settings are in error and the client folder holds no work: nothing is started; correct them and restart\n");

// Engine: unit select.
// [Unit%d]: then computing, waiting to compute, (nothing can be computed),
// waiting to send.
inline constexpr char kComputing[] = "[Unit%d]:\x8c\x76\x8e\x5a\x92\x86\n";
inline constexpr char kWaitingToCompute[] = "[Unit%d]:\x8c\x76\x8e\x5a\x91\xd2\x8b\x40\x92\x86\n";
inline constexpr char kNothingToCompute[] =
    "\x8c\x76\x8e\x5a\x89\xc2\x94\x5c\x83\x86\x83\x6a\x83\x62\x83\x67\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb9" "\x82\xf1\n";
inline constexpr char kWaitingToSend[] = "[Unit%d]:\x91\x97\x90\x4d\x91\xd2\x8b\x40\x92\x86\n";
inline constexpr char kSelectComputeHeading[] = "[unitselect State_Data_Calculation]\n";
inline constexpr char kSelectComputeCandidate[] = "[Unit%d]:State_Data_Calculation\n";
inline constexpr char kSelectSendHeading[] =
    "[unitselect State_Data_Calculation_completion]\n";
inline constexpr char kSelectSendCandidate[] = "[Unit%d]:Data Conection\n";
inline constexpr char kFillDone[] = "FILL Completion\n";
inline constexpr char kSelectNothingLeft[] = N_("unitselect: no unit to compute and none to send; stopping\n");

}  // namespace vorcnt::msg
