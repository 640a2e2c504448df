#!/usr/bin/env python3
"""What a screen reader says: Orca, with its speech server off, records in its
debug file every utterance it would speak. The real program runs on the
simulated bus under Xvfb, with a D-Bus session and an AT-SPI bus of its own,
and is driven with the keyboard alone (Tab, Space, Enter) through the
disclaimer, the drive list, the write question and a Quick run. The captions, a slot's line, the
verdicts PASS and FAIL and the finished status must be spoken, and no control
name.

Usage: orca_journey.py <tamro executable> [transcript file]
Exit status 77 (skipped) when Orca, xdotool, Xvfb, D-Bus or AT-SPI is missing."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

SKIPPED = 77
SESSION_MARK = "TAMRO_ORCA_OWN_SESSION"
FINISHED = "<< The above indicated drives analysis was finished.>>"
# Control names that are also words the window shows, or that Orca says of a
# role.
SHOWN_WORDS = {"OK", "EXIT", "DL", "ReadOnly", "WrtPermit", "panel"}
# How Orca echoes a key.
ECHO = re.compile(r"^(tab|space|return) $")

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from drive_list_a11y import missing_tool as missing_bus_tool  # noqa: E402


def missing_tool():
    for tool in ("orca", "xdotool"):
        if shutil.which(tool) is None:
            return tool
    return missing_bus_tool()


if __name__ == "__main__" and os.environ.get(SESSION_MARK) is None:
    tool = missing_tool()
    if tool is not None:
        print("SKIP: %s is not installed" % tool)
        sys.exit(SKIPPED)
    env = dict(os.environ, **{SESSION_MARK: "1"})
    os.execvpe("dbus-run-session", ["dbus-run-session", "--", sys.executable] + sys.argv, env)

from drive_list_a11y import Failed, start_display, switch_accessibility_on  # noqa: E402


def control_names():
    """Every control name of the window description, from its table."""
    header = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "ui", "controls.h")
    with open(header) as f:
        table = f.read().split("#define TAMRO_UI_CONTROLS(X)", 1)[1].split("enum class", 1)[0]
    return set(re.findall(r"X\((\w+)\)", table)) - SHOWN_WORDS


class Listener:
    """Orca's utterances, read from its debug file as it writes them."""

    def __init__(self, path):
        self.path = path
        self.spoken = []  # every utterance so far
        self.heard = 0    # how many of them the journey has looked at

    def poll(self):
        try:
            with open(self.path, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return
        said = (re.search(r"SPEECH OUTPUT: '(.*)'(\{.*\}| .*)?$", line) for line in lines)
        self.spoken = [m.group(1) for m in said if m]

    def wait_for(self, pattern, timeout=60.0):
        """The first new utterance that matches; all up to it is heard."""
        end = time.monotonic() + timeout
        while True:
            self.poll()
            for i in range(self.heard, len(self.spoken)):
                if re.search(pattern, self.spoken[i]):
                    self.heard = i + 1
                    return self.spoken[i]
            if time.monotonic() > end:
                raise Failed("Orca did not say %r; it said %r" % (pattern, self.spoken[self.heard:]))
            time.sleep(0.05)

    def settled(self, since=None, quiet=0.5, timeout=30.0):
        """What Orca said since `since` (what was last heard), once it has
        said something other than a key's echo and then nothing for `quiet`
        seconds."""
        since = self.heard if since is None else since
        end = time.monotonic() + timeout
        last, count = time.monotonic(), len(self.spoken)
        while time.monotonic() < end:
            self.poll()
            if len(self.spoken) != count:
                last, count = time.monotonic(), len(self.spoken)
            said = [u for u in self.spoken[since:] if not ECHO.match(u)]
            if said and time.monotonic() - last >= quiet:
                self.heard = len(self.spoken)
                return " ".join(said)
            time.sleep(0.05)
        raise Failed("Orca said nothing new; before, it said %r" % self.spoken[-5:])


# Orca as installed, with its debug file written line by line: Orca buffers
# the file, and the journey reads it while Orca runs.
ORCA = r"""
import builtins, runpy, sys
sys.argv = sys.argv[1:]
real_open = builtins.open
def open_line_buffered(file, mode="r", *args, **kwargs):
    if file == sys.argv[-1] and "w" in mode:
        kwargs["buffering"] = 1
    return real_open(file, mode, *args, **kwargs)
builtins.open = open_line_buffered
runpy.run_path(sys.argv[0], run_name="__main__")
"""


def key(display, name):
    subprocess.run(["xdotool", "key", "--clearmodifiers", name], env=dict(os.environ, DISPLAY=display), check=True)


def press(display, orca, name, until=None):
    """Presses a key and returns what Orca says about it (at least what
    matches `until`)."""
    since = orca.heard
    key(display, name)
    if until is not None:
        orca.wait_for(until)
    return orca.settled(since)


def tab_to(display, orca, pattern, tabs=40):
    """Presses Tab until Orca names the control that matches."""
    for _ in range(tabs):
        spoken = press(display, orca, "Tab")
        if re.search(pattern, spoken):
            return spoken
    raise Failed("no control %r within %d Tabs" % (pattern, tabs))


def journey(program, folder, display, orca):
    """The keyboard journey; returns what Orca said on each screen."""
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=folder)
    tamro = subprocess.Popen([program], cwd=folder, env=env)
    screens = {}
    try:
        # No window manager: the window is given the keyboard focus by hand.
        end = time.monotonic() + 60
        while subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^TAMRO$", "windowfocus"],
                             env=dict(os.environ, DISPLAY=display), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL).returncode != 0:
            if time.monotonic() > end:
                raise Failed("the window did not appear")
            time.sleep(0.2)

        orca.wait_for(r"ACCEPT push button")
        screens["disclaimer"] = [orca.spoken[orca.heard - 1], orca.settled()]
        screens["drive list"] = [press(display, orca, "Return", until=r"^Select HA#"),
                                 tab_to(display, orca, r"^Quick check box"),
                                 press(display, orca, "space")]
        # The write question, and CANCEL to it.
        tab_to(display, orca, r"^WrtPermit check box")
        screens["write question"] = [press(display, orca, "space", until=r"^CANCEL push button"),
                                     press(display, orca, "Return")]
        screens["drive list"].append(tab_to(display, orca, r"^RUN\. push button"))
        key(display, "Return")
        # On the simulated bus the run ends within a second or two.
        screens["finished"] = [orca.wait_for(r"^NewTEST push button", timeout=120), orca.settled()]
        screens["finished"] += [tab_to(display, orca, r"^Open log of .* (PASS|FAIL)\.") for _ in range(4)]
        return screens
    finally:
        tamro.kill()
        tamro.wait()


def check(screens, spoken):
    everything = "\n".join(spoken)
    disclaimer, drive_list, finished = ("\n".join(screens[s]) for s in ("disclaimer", "drive list", "finished"))
    assert re.search(r"^TAMRO frame", everything, re.M), "the window as a frame"
    assert "ACCEPT push button" in disclaimer and "DISCLAIMER" in disclaimer and "no warranty" in disclaimer
    assert re.search(r"^Select HA#\d/ID\d\d  \S.* check box checked", drive_list, re.M), "a slot's line"
    assert "Quick check box" in drive_list and "RUN. push button" in drive_list
    question = "\n".join(screens["write question"])
    assert "Do you permit to issue Write command" in question and "user data on these disks will be destroyed" in question
    assert FINISHED in finished, "the finished status"
    assert re.search(r"^Open log of HA#.* PASS\.", finished, re.M), "a PASS"
    assert re.search(r"^Open log of HA#.* FAIL\.", finished, re.M), "a FAIL"
    names = [n for n in control_names() if re.search(r"\b%s\b" % re.escape(n), everything)]
    assert not names, "control names spoken: %s" % sorted(names)


def main():
    if len(sys.argv) not in (2, 3):
        print(__doc__)
        return 2
    program = os.path.abspath(sys.argv[1])
    folder = tempfile.mkdtemp(prefix="tamro-orca-")
    xvfb = orca_process = None
    debug_file = os.path.join(folder, "orca-debug.out")
    orca = Listener(debug_file)
    try:
        xvfb, display = start_display(folder)
        switch_accessibility_on()
        home = os.path.join(folder, "home")
        os.makedirs(home)
        orca_env = dict(os.environ, DISPLAY=display, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                        XDG_DATA_HOME=os.path.join(home, ".local", "share"), XDG_RUNTIME_DIR=folder)
        # Speech off: a live speech server may hang in a container.
        orca_process = subprocess.Popen([sys.executable, "-c", ORCA, shutil.which("orca"), "-d", "speech",
                                         "-d", "braille", "--debug-file", debug_file],
                                        env=orca_env, stdout=subprocess.DEVNULL,
                                        stderr=open(os.path.join(folder, "orca.err"), "w"))
        screens = journey(program, folder, display, orca)
        orca.poll()
        for screen, said in screens.items():
            print("%s:" % screen)
            for utterance in said:
                print("    %s" % utterance)
        check(screens, orca.spoken)
        print("PASS")
        return 0
    except (Failed, AssertionError, subprocess.CalledProcessError) as e:
        orca.poll()
        for utterance in orca.spoken[-40:]:
            print("  orca: %s" % utterance)
        print("FAIL: %s" % (e,))
        return 1
    finally:
        if orca_process is not None:
            orca_process.terminate()
            try:
                orca_process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                orca_process.kill()
                orca_process.wait()
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait()
        if len(sys.argv) == 3 and os.path.exists(debug_file):
            shutil.copyfile(debug_file, sys.argv[2])
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
