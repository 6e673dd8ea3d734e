#!/usr/bin/env python3
"""Runs Audacity headless (Xvfb) in a fresh home folder and drives it through
mod-script-pipe: imports a file, applies one effect to all of it and exports
the result.

usage: audacity_session.py IN OUT EFFECT_COMMAND [--ladspa FILE]... [--lv2 BUNDLE]...

The plug-ins are copied where a user installs them (~/.ladspa, ~/.lv2 of the
fresh home). Exits 0 when OUT was written."""
import argparse
import datetime
import fcntl
import os
import shutil
import signal
import subprocess
import sys
import select
import tempfile
import time

MODULE = "/usr/lib/audacity/modules/mod-script-pipe.so"


def wait_for(test, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if test():
            return True
        time.sleep(0.2)
    return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("input")
    ap.add_argument("output")
    ap.add_argument("effect")
    ap.add_argument("--ladspa", action="append", default=[])
    ap.add_argument("--lv2", action="append", default=[])
    a = ap.parse_args()

    # One session at a time for this user (tests may run in parallel): every
    # Audacity of a user takes the same pipes.
    lock = open(f"/tmp/kesta-audacity-session.{os.getuid()}.lock", "w")
    fcntl.flock(lock, fcntl.LOCK_EX)

    uid = os.getuid()
    to_pipe = f"/tmp/audacity_script_pipe.to.{uid}"
    from_pipe = f"/tmp/audacity_script_pipe.from.{uid}"
    # An Audacity started by hand takes the same pipes: wait for it to end.
    # Pipes that no running Audacity holds are left over from one that was
    # killed.
    def running():
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/comm") as f:
                    if f.read().strip() == "audacity" and os.stat(f"/proc/{pid}").st_uid == uid:
                        return True
            except OSError:
                pass
        return False

    if not wait_for(lambda: not os.path.exists(to_pipe) or not running(), 180):
        sys.exit("another Audacity holds " + to_pipe)
    for p in (to_pipe, from_pipe):
        if os.path.exists(p):
            os.unlink(p)

    home = tempfile.mkdtemp(prefix="kesta-audacity-")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "LADSPA_", "LV2_"))}
    env["HOME"] = home
    for f in a.ladspa:
        os.makedirs(home + "/.ladspa", exist_ok=True)
        shutil.copy(f, home + "/.ladspa/")
    for b in a.lv2:
        shutil.copytree(b, home + "/.lv2/" + os.path.basename(b.rstrip("/")))
    cfg = home + "/.config/audacity"
    os.makedirs(cfg)
    stamp = datetime.datetime.fromtimestamp(os.path.getmtime(MODULE)).strftime("%Y-%m-%dT%H:%M:%S")
    with open(cfg + "/audacity.cfg", "w") as f:
        # A module is loaded only with the path and date it was enabled with.
        # Projects in a folder of this run, so that no crash recovery of
        # another run comes up.
        f.write(f"[Module]\nmod-script-pipe=1\n[ModulePath]\nmod-script-pipe={MODULE}\n"
                f"[ModuleDateTime]\nmod-script-pipe={stamp}\n[Directories]\nTempDir={home}/tmp\n"
                "[GUI]\nShowSplashScreen=0\n")

    app = subprocess.Popen(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "audacity"], env=env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           start_new_session=True)
    ok = False
    # Stopped by a timeout, it still closes Audacity and its display.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))
    try:
        made = lambda: os.path.exists(to_pipe) and os.path.exists(from_pipe)

        def connect():
            if not wait_for(lambda: made() or app.poll() is not None, 120) or app.poll() is not None:
                sys.exit("Audacity made no script pipes")
            # The answers' pipe is opened first without waiting, whichever
            # end Audacity opens first: then the commands' pipe.
            fd = os.open(from_pipe, os.O_RDONLY | os.O_NONBLOCK)
            to = open(to_pipe, "w")
            return to, fd

        def send(command, seconds=120):
            to.write(command + "\n")
            to.flush()
            said, text = [], b""
            end = time.monotonic() + seconds
            while True:
                left = end - time.monotonic()
                if left <= 0 or not select.select([fd], [], [], left)[0]:
                    return None, False
                chunk = os.read(fd, 65536)
                if not chunk:
                    time.sleep(0.05)
                    continue
                text += chunk
                said = text.decode(errors="replace").split("\n")
                done = [line for line in said if line.startswith("BatchCommand finished")]
                if done:
                    print(command + " -> " + done[0], file=sys.stderr)
                    return said, "OK" in done[0]

        # Audacity 3.2 checks new plug-ins in a second process of its own,
        # which opens the pipes too and then goes away: a first command left
        # unanswered means that one was reached, and the pipes are opened
        # again.
        for attempt in range(4):
            to, fd = connect()
            said, good = send("Help: Command=Help", 20)
            if said is not None:
                break
            to.close()
            os.close(fd)
            time.sleep(2)
        else:
            sys.exit("Audacity never answered")

        for command in (f'Import2: Filename="{a.input}"', "SelectAll:", a.effect,
                        f'Export2: Filename="{a.output}" NumChannels=2'):
            said, good = send(command)
            if not good:
                sys.exit(command + ": " + ("\n".join(said) if said else "no answer"))
        ok = os.path.exists(a.output)
    finally:
        try:
            os.killpg(app.pid, signal.SIGTERM)
            app.wait(10)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            os.killpg(app.pid, signal.SIGKILL)
        for p in (to_pipe, from_pipe):
            try:
                os.unlink(p)
            except FileNotFoundError:
                pass
        shutil.rmtree(home, ignore_errors=True)
    sys.exit(0 if ok else 1)


main()
