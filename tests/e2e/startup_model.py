#!/usr/bin/env python3
"""The controller's start-up on random layouts, against a model of it.

The model is written from what the controller is meant to do at start-up,
independently of its code: the closer's exit order, the banners, the scan of
unit0.., the folders made when filling, the home of the client folder's work
or the first selection and pop, the state the first pass begins in, and the
dump. Each layout is laid out in a
scratch client folder (work units and results unique to each folder, the
same version and user-info files everywhere, random work-unit ages, now and
then a folder holding only the version file or an empty output file, a gap,
or a plain file named like a unit folder), the real controller is
run until its dump has been printed, and its lines (the closer's orders
among them) must equal the model's, up to the point where the model has no
rule of its own and a line of our own design follows (a selection that would
alternate for ever, a seventeenth folder). The interpreter's own lines are
left out.

Usage: startup_model.py BIN_DIR [LAYOUTS] [SEED]
"""
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

NO_UNIT = 255
OURS = object()  # the model has no rule here; the comparison ends


def cp932(text):
    return text.encode("cp932")


COMPUTING = cp932("計算中")
WAITING_TO_COMPUTE = cp932("計算待機中")
WAITING_TO_SEND = cp932("送信待機中")
NOTHING_TO_COMPUTE = cp932("計算可能ユニットがありません")
MODE_NAMES = {0: b"Mode_calc", 1: b"Mode_fill"}
STATE_NAMES = {0: b"Vorcon_CalcWait", 1: b"Vorcon_Calc", 2: b"Vorcon_CalcCompletion", 3: b"Vorcon_ConnectionWait",
               5: b"Vorcon_ConnectCompletion", 99: b"Vorcnt_error"}

INTERPRETER = re.compile(rb"\s+\d+ file\(s\) copied\.")


# ---- the layout, as a dictionary of folders --------------------------------

def files_of(kind, tag):
    """The client files that make a folder of this kind; `tag` makes them unique."""
    common = {"version.vwu": "client=Vorelith\nversion=0.6\n", "user_info.vwu": "id=4711\nname=Tester\n"}
    work = "work unit " + tag + "\n"
    if kind == "empty":
        return {}
    if kind == "waiting":
        return dict(common, **{"work_unit.vwu": work})
    if kind == "computing":
        return dict(common, **{"work_unit.vwu": work, "state.vwu": "prog=0.%d\ncpu=%d\n" % (len(tag), len(tag))})
    if kind == "computed":
        return dict(common, **{"outfile.vwu": "", "result.vwu": "result " + tag + "\n",
                               "state.vwu": "prog=1.0\ncpu=%d\n" % len(tag)})
    if kind == "receiving":
        return dict(common, **{"wtemp.vwu": "part of " + tag + "\n"})
    if kind == "sending":
        return {"result.txt": "result " + tag + "\n"}
    # What a clean run can leave besides: the version file alone, or the empty
    # output file that a pop of an empty unit makes.
    if kind == "version only":
        return {"version.vwu": common["version.vwu"]}
    if kind == "outfile only":
        return {"outfile.vwu": ""}
    raise ValueError(kind)


def random_layout(rng):
    kinds = ["empty", "waiting", "computing", "computed", "receiving", "sending", "version only", "outfile only"]
    units = [("gap" if roll < 0.04 else "file" if roll < 0.08 else rng.choice(kinds))
             for roll in (rng.random() for _ in range(rng.choice([0, 1, 2, 3, 4, 5, 8, 16])))]
    return {"client": rng.choice(kinds) if rng.random() < 0.5 else "empty", "units": units,
            "fill": rng.random() < 0.4, "units_setting": rng.choice([None, None, 1, 2, 4, 16]),
            "mtimes": [1_000_000 + 60 * rng.randrange(4) for _ in units]}


def write(path, text, mode=None):
    with open(path, "w") as f:
        f.write(text)
    if mode is not None:
        os.chmod(path, mode)


def lay_out(layout, client, index):
    os.makedirs(client)
    for name, text in files_of(layout["client"], "c%d" % index).items():
        write(os.path.join(client, name), text)
    for n, kind in enumerate(layout["units"]):
        folder = os.path.join(client, "unit%d" % n)
        if kind == "file":
            write(folder, "not a folder\n")
        if kind in ("gap", "file"):
            continue
        os.makedirs(folder)
        for name, text in files_of(kind, "u%d-%d" % (index, n)).items():
            write(os.path.join(folder, name), text)
        if "work_unit.vwu" in files_of(kind, ""):
            os.utime(os.path.join(folder, "work_unit.vwu"), (layout["mtimes"][n], layout["mtimes"][n]))
    write(os.path.join(client, "Vorelith.exe"), "#!/bin/sh\nexit 0\n", 0o755)
    settings = "EXEC = %s/\n" % client + ("FILL\n" if layout["fill"] else "")
    if layout["units_setting"] is not None:
        settings += "UNITS = %d\n" % layout["units_setting"]
    write(os.path.join(client, "vorcnt.cfg"), settings)


# ---- the model ---------------------------------------------------------------

class Folders:
    """What the model knows of the file system: folder -> {name: text}, or a plain file."""

    def __init__(self, client):
        self.client = client
        self.tree = {}
        for entry in os.listdir(client):
            full = os.path.join(client, entry)
            if os.path.isdir(full):
                self.tree[entry] = {n: open(os.path.join(full, n)).read() for n in os.listdir(full)}
            elif entry.startswith("unit"):
                self.tree[entry] = None  # a plain file
        self.tree[""] = {n: open(os.path.join(client, n)).read() for n in os.listdir(client)
                         if os.path.isfile(os.path.join(client, n)) and not n.startswith("unit")}
        self.mtime = {}
        for entry, files in self.tree.items():
            if files and "work_unit.vwu" in files:
                self.mtime[entry] = os.stat(os.path.join(client, entry, "work_unit.vwu")).st_mtime

    def exists(self, name):
        return name in self.tree

    def not_folder(self, name):
        return name in self.tree and self.tree[name] is None

    def classify(self, name):
        files = self.tree.get(name)
        if not files:
            return 0
        if "version.vwu" in files:
            ext = ".vwu"
        else:
            ext = ".txt"
        work = 2 if "work_unit" + ext in files else 1 if "wtemp" + ext in files else 0
        result = "result" + ext in files
        outfile = "outfile" + ext in files
        state = files.get("state" + ext)
        progress = state is not None and any(line.split("=")[0] == "prog" for line in state.splitlines())
        if ext == ".txt":
            if work == 1:
                return 4
            if progress and result:
                return 2
            if progress:
                return 1
            if work == 2:
                return 5
            if result:
                return 3
            return 5 if outfile else 0
        if progress and result:
            return 2
        if progress and work == 2:
            return 1
        if progress:
            return 4
        return 5 if work == 2 else 4 if work == 1 else 0


class Model:
    def __init__(self, layout, client):
        self.fs = Folders(client)
        self.client = client
        self.lines = [b"closer: -exit -echo off", b"Vorelith Client Controler Version " + cp932("0.2β+6"),
                      b"Vorelith Client Monitor Version " + cp932("0.6α6")]
        self.mode = 1 if layout["fill"] else 0
        self.state = 2 if layout["fill"] else 0
        self.fill = 1 if layout["fill"] else 0
        self.units = layout["units_setting"] or 2
        self.unit_state = [0] * 16
        self.units_local = 0
        self.current = NO_UNIT

    def out(self, line):
        self.lines.append(line)

    def run(self):
        if self.scan() is OURS:
            self.out(OURS)
            return self.lines
        self.out(b"mode:" + MODE_NAMES[self.mode])
        self.out(b"vorcnt_state:" + STATE_NAMES[self.state])
        self.out(b"path:" + self.client.encode() + b"/")
        for line in (b"execfinish:", b"Units:%d" % self.units, b"Units_local:%d" % self.units_local,
                     b"calculation_unit:%d" % self.current, b"prog:0", b"time:120", b"fill:%d" % self.fill, b""):
            self.out(line)
        return self.lines

    def scan(self):
        n = 0
        while n < 16 and self.fs.exists("unit%d" % n) and not self.fs.not_folder("unit%d" % n):
            self.unit_state[n] = self.fs.classify("unit%d" % n)
            self.out(b"[unit%d] Dir find : %d" % (n, self.unit_state[n]))
            n += 1
        if n == 16 and self.fs.exists("unit16"):
            return OURS  # a folder past unit15
        if self.mode == 1:
            while n < self.units and not self.fs.not_folder("unit%d" % n):
                self.mkdir(n)
                self.out(b"[Unit%d] Dir maiking. : %d" % (n, self.unit_state[n]))
                n += 1
        # A plain file named like a unit folder ends the units like a gap.
        if n < 16 and self.fs.not_folder("unit%d" % n):
            self.out(b"unit%d is not a folder: it is passed over like a missing unit folder, "
                     b"and no unit folder from unit%d up is used" % (n, n))
        self.units_local = n
        if self.fs.classify("") == 0:
            self.current = NO_UNIT
            if self.select() is OURS:
                return OURS
            self.pop(self.current)
            return None
        client_state = self.fs.classify("")
        for j in range(self.units_local):
            if self.unit_state[j] == 0:
                self.current = j
                self.unit_state[j] = client_state
                self.resume(client_state)
                return None
        if self.units_local == 16:
            return OURS  # no seventeenth folder
        k = self.units_local
        if self.fs.not_folder("unit%d" % k):
            self.out(b"The client folder holds work and its new unit folder, unit%d, is not a folder: "
                     b"nothing is moved; remove that name and restart" % k)
            self.current, self.state = NO_UNIT, 99
            return None
        self.mkdir(k)
        self.out(b"[Unit%d] Dir maiking SUB. : %d" % (k, self.unit_state[k]))
        self.current = k
        self.units_local += 1
        self.resume(client_state)
        return None

    def resume(self, client_state):
        # Unless filling: a finished result is recorded by the first pass, a
        # computation is resumed, and a send or download is parked by a swap.
        if self.mode != 1:
            self.state = {2: 1, 1: 0, 5: 0}.get(client_state, 5)

    def mkdir(self, k):
        self.fs.tree.setdefault("unit%d" % k, {})
        self.unit_state[k] = self.fs.classify("unit%d" % k)

    def select(self):
        searched = set()
        while True:
            if self.mode in searched:
                return OURS  # the searches would alternate for ever
            searched.add(self.mode)
            if self.mode == 0:
                self.out(b"[unitselect State_Data_Calculation]")
                for i in range(self.units_local):
                    if self.unit_state[i] == 1:
                        self.out(b"[Unit%d]:State_Data_Calculation" % i)
                        self.current, self.state = i, 0
                        self.out(b"[Unit%d]:" % i + COMPUTING)
                        return None
                ages = [(self.fs.mtime[f"unit{i}"], i) for i in range(self.units_local) if f"unit{i}" in self.fs.mtime]
                if ages:
                    self.current, self.state = min(ages)[1], 0
                    self.out(b"[Unit%d]:" % self.current + WAITING_TO_COMPUTE)
                    return None
                self.out(NOTHING_TO_COMPUTE)
                self.state, self.mode = 99, 1
            else:
                self.out(b"[unitselect State_Data_Calculation_completion]")
                for i in range(self.units_local):
                    if self.unit_state[i] in (2, 4, 0):
                        self.out(b"[Unit%d]:Data Conection" % i)
                        self.current, self.state = i, 3
                        self.out(b"[Unit%d]:" % i + WAITING_TO_SEND)
                        return None
                self.out(b"FILL Completion")
                self.mode = 0

    def pop(self, k):
        self.out(b"[Unit%d] pop" % k)
        # The files move; nothing of it is printed by the controller itself,
        # and an output file is made when none came, which never fails here.


# ---- running the controller --------------------------------------------------

DUMP_END = re.compile(rb"(^|\n)fill:-?\d+\n\n")


def run_controller(bin_dir, client, tools):
    # A session of its own (TMPDIR), so that runs beside it are not "another vorcnt".
    env = dict(os.environ, VORCNT_TIME_SCALE="0.01", PATH=tools + os.pathsep + os.environ.get("PATH", ""),
               TMPDIR=os.path.dirname(client))
    out_path = os.path.join(os.path.dirname(client), "out")
    with open(out_path, "wb") as out, open(os.devnull, "wb") as err:
        proc = subprocess.Popen([os.path.join(bin_dir, "vorcnt")], cwd=client, stdout=out, stderr=err, env=env)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline and proc.poll() is None:
            with open(out_path, "rb") as f:
                if DUMP_END.search(f.read()):
                    break
            time.sleep(0.005)
        if proc.poll() is None:
            proc.kill()
        proc.wait()
    with open(out_path, "rb") as f:
        return f.read()


def compare(got_text, model_lines):
    """None when the lines agree up to the model's end, or up to the point
    where the model has no rule and our own line may follow; else a reason."""
    got = [line for line in got_text.split(b"\n") if not INTERPRETER.fullmatch(line)]
    for i, want in enumerate(model_lines):
        if want is OURS:
            return None
        if i >= len(got):
            return "the controller stopped before line %d: %r" % (i + 1, want)
        if got[i] != want:
            return "line %d: controller %r, model %r" % (i + 1, got[i], want)
    return None


def main():
    bin_dir = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 13
    rng = random.Random(seed)
    work = tempfile.mkdtemp(prefix="vsm.")
    tools = os.path.join(work, "tools")
    os.makedirs(tools)
    write(os.path.join(tools, "vorclose"), '#!/bin/sh\necho "closer: $*"\n', 0o755)
    failures = 0
    stopped_early = 0
    try:
        for index in range(count):
            layout = random_layout(rng)
            client = os.path.join(work, "run%d" % index, "c")
            lay_out(layout, client, index)
            model_lines = Model(layout, client).run()
            got = run_controller(bin_dir, client, tools)
            reason = compare(got, model_lines)
            if OURS in model_lines:
                stopped_early += 1
            if reason is not None:
                failures += 1
                print("FAIL layout %d %r: %s" % (index, layout, reason))
                print(got.decode("cp932", "replace"))
            shutil.rmtree(os.path.dirname(client))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d layouts (seed %d): %d differ from the model; %d end where the model has no rule"
          % (count, seed, failures, stopped_early))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
