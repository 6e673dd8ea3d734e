#!/usr/bin/env python3
"""Runs Audacity headless (Xvfb) in a fresh home folder and drives it through
mod-script-pipe: imports a file, applies one effect to all of it and exports
the result.

usage: audacity_session.py IN OUT EFFECT_COMMAND [--ladspa FILE]... [--lv2 BUNDLE]...

The plug-ins are copied where a user installs them (~/.ladspa, ~/.lv2 of the
fresh home). Audacity, its display and everything they write live in that
home (HOME, XDG_*, TMPDIR), which goes at the end. Exits 0 when OUT was
written."""
import argparse
import datetime
import errno
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

MODULE = "/usr/lib/audacity/modules/mod-script-pipe.so"
# mod-script-pipe's pipes: always in /tmp, one pair per user.
TO_PIPE = f"/tmp/audacity_script_pipe.to.{os.getuid()}"
FROM_PIPE = f"/tmp/audacity_script_pipe.from.{os.getuid()}"
# Upper bounds, never waited out when things go well: a start until Audacity
# answers, one command, and the other session this one queues behind.
START_SECONDS = 90
COMMAND_SECONDS = 120
QUEUE_SECONDS = 300


def log(text):
    print(text, file=sys.stderr, flush=True)


def wait_for(test, seconds, step=0.1):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if test():
            return True
        time.sleep(step)
    return test()


def inode(path):
    try:
        return os.stat(path).st_ino
    except OSError:
        return None


def remove_pipes():
    for p in (TO_PIPE, FROM_PIPE):
        try:
            os.unlink(p)
        except FileNotFoundError:
            pass


def take_the_pipes():
    """Every Audacity of a user takes the same pipes, so sessions of this
    user run one at a time (tests may run in parallel). The lock is an
    abstract socket's name, held until this process ends however it ends,
    with nothing left on disk. Answers the socket to keep."""
    lock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    name = f"\0kesta-audacity-session.{os.getuid()}"

    def bound():
        try:
            lock.bind(name)
            return True
        except OSError as e:
            if e.errno != errno.EADDRINUSE:
                raise
            return False

    if not wait_for(bound, QUEUE_SECONDS):
        sys.exit("another Audacity session of this user went on for too long")

    # An Audacity started by hand takes the same pipes: wait for it to end.
    # Pipes that no running Audacity holds are left over from one that was
    # killed.
    uid = os.getuid()

    def running():
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/comm") as f:
                    if f.read().strip() == "audacity" and os.stat(f"/proc/{pid}").st_uid == uid:
                        return True
            except OSError:
                pass
        return False

    if not wait_for(lambda: not os.path.exists(TO_PIPE) or not running(), QUEUE_SECONDS, 0.5):
        sys.exit("another Audacity holds " + TO_PIPE)
    remove_pipes()
    return lock


def make_home(ladspa, lv2):
    home = tempfile.mkdtemp(prefix="kesta-audacity-")
    for d in ("tmp", "run", ".config/audacity", ".cache", ".local/share"):
        os.makedirs(f"{home}/{d}", mode=0o700)
    for f in ladspa:
        os.makedirs(home + "/.ladspa", exist_ok=True)
        shutil.copy(f, home + "/.ladspa/")
    for b in lv2:
        shutil.copytree(b, home + "/.lv2/" + os.path.basename(b.rstrip("/")))
    stamp = datetime.datetime.fromtimestamp(os.path.getmtime(MODULE)).strftime("%Y-%m-%dT%H:%M:%S")
    with open(home + "/.config/audacity/audacity.cfg", "w") as f:
        # A module is loaded only with the path and date it was enabled with.
        # Projects in a folder of this run, so that no crash recovery of
        # another run comes up.
        f.write(f"[Module]\nmod-script-pipe=1\n[ModulePath]\nmod-script-pipe={MODULE}\n"
                f"[ModuleDateTime]\nmod-script-pipe={stamp}\n[Directories]\nTempDir={home}/tmp\n"
                "[GUI]\nShowSplashScreen=0\n")
    return home


class Session:
    """One Audacity under Xvfb and the pipes to it."""

    def __init__(self, home):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("XDG_", "LADSPA_", "LV2_", "DBUS_", "DISPLAY"))}
        env.update(HOME=home, TMPDIR=home + "/tmp", XDG_RUNTIME_DIR=home + "/run",
                   XDG_CONFIG_HOME=home + "/.config", XDG_CACHE_HOME=home + "/.cache",
                   XDG_DATA_HOME=home + "/.local/share", NO_AT_BRIDGE="1")
        self.app = subprocess.Popen(["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "audacity"],
                                    env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, start_new_session=True)
        self.to = self.answers = None

    def close_pipes(self):
        for fd in (self.to, self.answers):
            if fd is not None:
                os.close(fd)
        self.to = self.answers = None

    def stop(self):
        self.close_pipes()
        try:
            os.killpg(self.app.pid, signal.SIGTERM)
            self.app.wait(10)
        except ProcessLookupError:
            pass
        except subprocess.TimeoutExpired:
            os.killpg(self.app.pid, signal.SIGKILL)
            self.app.wait()
        remove_pipes()

    def connect(self, end):
        """Opens the pipes of the server waiting on them, as soon as there is
        one. The answers' pipe first, without waiting, whichever end the
        server opens first: then the commands' pipe, which opens only while
        a server reads it. Answers False at end, if Audacity ended, or if
        pipes no server reads stay 10 s (their server went away)."""
        stale, since = None, 0
        while time.monotonic() < end and self.app.poll() is None:
            if self.answers is not None and inode(FROM_PIPE) != os.fstat(self.answers).st_ino:
                self.close_pipes()
            if self.answers is None:
                try:
                    self.answers = os.open(FROM_PIPE, os.O_RDONLY | os.O_NONBLOCK)
                except FileNotFoundError:
                    pass
            if self.answers is not None:
                try:
                    self.to = os.open(TO_PIPE, os.O_WRONLY | os.O_NONBLOCK)
                    return True
                except OSError as e:
                    if e.errno not in (errno.ENXIO, errno.ENOENT):
                        raise
                pipes = (inode(TO_PIPE), os.fstat(self.answers).st_ino)
                if pipes != stale:
                    stale, since = pipes, time.monotonic()
                elif time.monotonic() - since > 10:
                    return False
            time.sleep(0.01)
        return False

    def gone(self):
        """Whether the server stopped reading the commands' pipe."""
        poll = select.poll()
        poll.register(self.to, select.POLLOUT)
        return any(events & (select.POLLERR | select.POLLHUP) for _, events in poll.poll(0))

    def send(self, command, end, starting=False):
        """Writes one command and reads its answer up to "BatchCommand
        finished". Answers (lines, ok), with lines None if no answer came
        before end or the server went away. While starting, an empty list
        means the server dropped the command: one with no project window
        yet answers a bare empty line."""
        try:
            os.write(self.to, (command + "\n").encode())
        except BrokenPipeError:
            return None, False
        text = b""
        while time.monotonic() < end:
            if self.gone():
                return None, False
            if not select.select([self.answers], [], [], 0.05)[0]:
                continue
            chunk = os.read(self.answers, 65536)
            if not chunk:  # no writer yet
                time.sleep(0.01)
                continue
            text += chunk
            if starting and text == b"\n":
                return [], False
            said = text.decode(errors="replace").split("\n")
            done = [line for line in said if line.startswith("BatchCommand finished")]
            if done:
                log(command + " -> " + done[0])
                return said, "OK" in done[0]
        return None, False

    def start(self):
        """Waits until Audacity answers a first command. At its start,
        Audacity 3.2 checks new plug-ins in a second process of its own,
        which makes its own pipes in place of the first one's and goes away
        without answering: the first one is reached through the pipes it
        made, opened as soon as they are there, and is asked again while it
        drops commands (until its window is up). A server that goes away
        makes way for the next one to make pipes; if none comes, the first
        one was never reached and waits on pipes no one can open."""
        end = connect_by = time.monotonic() + START_SECONDS
        while self.connect(connect_by):
            while True:
                said, good = self.send("Help: Command=Help", end, starting=True)
                if said is None:
                    break
                if said:
                    return good
                time.sleep(0.1)
            self.close_pipes()
            connect_by = min(end, time.monotonic() + 10)
        return False


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("input")
    ap.add_argument("output")
    ap.add_argument("effect")
    ap.add_argument("--ladspa", action="append", default=[])
    ap.add_argument("--lv2", action="append", default=[])
    a = ap.parse_args()

    # Stopped by a timeout, it still closes Audacity and its display.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))
    lock = take_the_pipes()
    home = None
    session = None
    ok = False
    try:
        home = make_home(a.ladspa, a.lv2)
        # A start that never answers (its first pipes taken over before
        # they were reached) is tried again from the beginning.
        for attempt in range(3):
            session = Session(home)
            started = time.monotonic()
            if session.start():
                log(f"Audacity answered after {time.monotonic() - started:.1f} s")
                break
            session.stop()
            session = None
            log(f"Audacity never answered (attempt {attempt + 1})")
        else:
            sys.exit("Audacity never answered")

        for command in (f'Import2: Filename="{a.input}"', "SelectAll:", a.effect,
                        f'Export2: Filename="{a.output}" NumChannels=2'):
            said, good = session.send(command, time.monotonic() + COMMAND_SECONDS)
            if not good:
                sys.exit(command + ": " + ("\n".join(said) if said else "no answer"))
        ok = os.path.exists(a.output)
    finally:
        if session:
            session.stop()
        remove_pipes()
        if home:
            shutil.rmtree(home, ignore_errors=True)
        lock.close()
    sys.exit(0 if ok else 1)


main()
