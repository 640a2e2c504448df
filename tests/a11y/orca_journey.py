#!/usr/bin/env python3
"""What a screen reader says: Orca, with its speech server off, records in its
debug file every utterance it would speak. The real program runs on the
simulated bus under Xvfb, with a D-Bus session and an AT-SPI bus of its own,
and is driven with the keyboard alone (Tab, Shift+Tab, Space, Enter, Escape)
through the disclaimer, the write question, a microcode download through the
file dialog, a Standard run of one drive at the simulated bus's own pace and
the retest question.

Checked: the captions, a slot's line, the procedures, the verdicts and the
finished status are spoken, each of the run's announcements once; a question's
text is spoken once and Tab never leaves an open question; no bar is spoken
without its name, no announcement carries the LBA counter, and no control
name is spoken. Printed: the run's transcript, each utterance with its second
after RUN., and how long each key pressed during the run waited for Orca's
answer (a figure, not a pass mark).

Usage: orca_journey.py <tamro executable> [transcript file]
Exit status 77 (skipped) when Orca, xdotool, Xvfb, D-Bus or AT-SPI is missing."""

import datetime
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
NOTIFICATION = "notification "
SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "samples", "cv7-sample.frm")
# Control names that are also words the window shows, or that Orca says of a
# role.
SHOWN_WORDS = {"OK", "EXIT", "DL", "ReadOnly", "WrtPermit", "connect", "panel"}
# How long a Tab may go without Orca's echo before it is taken for lost.
LOST_KEY_S = 15.0
# How Orca echoes a key.
ECHO = re.compile(r"^(tab|left shift|left shift tab|space|return|escape|[a-z0-9.-]) $")

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


def clock_of_day():
    """Now as Orca stamps its debug file: seconds since the local midnight."""
    now = datetime.datetime.now()
    return now.hour * 3600 + now.minute * 60 + now.second + now.microsecond / 1e6


class Listener:
    """Orca's utterances and when it said them, read from its debug file as
    it writes them."""

    def __init__(self, path):
        self.path = path
        self.spoken = []  # (seconds since midnight, utterance), every one so far
        self.heard = 0    # how many of them the journey has looked at

    def poll(self):
        try:
            with open(self.path, encoding="utf-8", errors="replace") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return
        spoken = []
        for line in lines:
            m = re.search(r"^(\d\d):(\d\d):(\d\d\.\d+) - SPEECH OUTPUT: '(.*)'(\{.*\}| .*)?$", line)
            if m:
                spoken.append((int(m.group(1)) * 3600 + int(m.group(2)) * 60 + float(m.group(3)), m.group(4)))
        self.spoken = spoken

    def started(self, timeout=120.0):
        """Waits until Orca listens to the accessibility bus: a window that
        takes the focus before then is said as a frame alone, without its
        focused control."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                with open(self.path, encoding="utf-8", errors="replace") as f:
                    if "ORCA: ATSPI registry initialized." in f.read():
                        return
            except FileNotFoundError:
                pass
            time.sleep(0.1)
        raise Failed("Orca did not start")

    def texts(self, since=0):
        return [u for _, u in self.spoken[since:]]

    def wait_for(self, pattern, timeout=90.0):
        """The first new utterance that matches; all up to it is heard."""
        end = time.monotonic() + timeout
        while True:
            self.poll()
            for i in range(self.heard, len(self.spoken)):
                if re.search(pattern, self.spoken[i][1]):
                    self.heard = i + 1
                    return self.spoken[i][1]
            if time.monotonic() > end:
                raise Failed("Orca did not say %r; it said %r" % (pattern, self.texts(self.heard)))
            time.sleep(0.05)

    def echo_after(self, since, timeout):
        """Whether Orca has echoed a key since `since`, waiting `timeout` at most."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            self.poll()
            if any(ECHO.match(u) for u in self.texts(since)):
                return True
            time.sleep(0.05)
        return False

    def settled(self, since=None, quiet=0.35, timeout=30.0):
        """What Orca said since `since` (what was last heard), once it has
        said something other than a key's echo or an announcement and then
        nothing for `quiet` seconds."""
        since = self.heard if since is None else since
        end = time.monotonic() + timeout
        last, count = time.monotonic(), len(self.spoken)
        while time.monotonic() < end:
            self.poll()
            if len(self.spoken) != count:
                last, count = time.monotonic(), len(self.spoken)
            said = [u for u in self.texts(since) if not ECHO.match(u)]
            if any(not u.startswith(NOTIFICATION) for u in said) and time.monotonic() - last >= quiet:
                self.heard = len(self.spoken)
                return " ".join(said)
            time.sleep(0.05)
        raise Failed("Orca said nothing new; before, it said %r" % self.texts()[-5:])


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


class Keyboard:
    def __init__(self, display, orca):
        self.env = dict(os.environ, DISPLAY=display)
        self.orca = orca
        self.answers = []  # (key, seconds until Orca's answer) while timed
        self.lost = []     # keys pressed again

    def xdotool(self, *args):
        return subprocess.run(["xdotool"] + list(args), env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode

    def focus_window(self, title):
        """No window manager: a window is given the keyboard by hand."""
        end = time.monotonic() + 60
        while self.xdotool("search", "--onlyvisible", "--name", title, "windowfocus") != 0:
            if time.monotonic() > end:
                raise Failed("no window %r" % title)
            time.sleep(0.2)

    def window_gone(self, title):
        end = time.monotonic() + 60
        while self.xdotool("search", "--onlyvisible", "--name", title) == 0:
            if time.monotonic() > end:
                raise Failed("the window %r stays" % title)
            time.sleep(0.2)

    def echoed(self, char):
        """Types one character and waits for Orca to echo it: a key sent
        while Orca is still busy with the previous one can be lost between
        the toolkit and Orca."""
        since = len(self.orca.spoken)
        subprocess.run(["xdotool", "type", char], env=self.env, check=True)
        end = time.monotonic() + 60
        while len(self.orca.spoken) == since:
            if time.monotonic() > end:
                raise Failed("Orca did not echo %r" % char)
            time.sleep(0.05)
            self.orca.poll()

    def press(self, name, until=None, timed=False):
        """Presses a key and returns what Orca says about it (at least what
        matches `until`), its announcements aside. Tab, which can be pressed
        twice at no cost, is pressed again when it never reaches Orca: the
        toolkit's bridge now and then drops a key on its way to Orca, and
        then the program never sees it either."""
        since = len(self.orca.spoken)
        self.orca.heard = since
        sent = clock_of_day()
        subprocess.run(["xdotool", "key", "--clearmodifiers", name], env=self.env, check=True)
        while name.endswith("Tab") and not self.orca.echo_after(since, LOST_KEY_S):
            self.lost.append(name)
            since, sent = len(self.orca.spoken), clock_of_day()
            subprocess.run(["xdotool", "key", "--clearmodifiers", name], env=self.env, check=True)
        if until is not None:
            self.orca.wait_for(until)
        said = self.orca.settled(since)
        if timed:
            # What Orca says after echoing the key, the program's own
            # announcements aside.
            after = self.orca.spoken[since:]
            echo = next(i for i, (_, u) in enumerate(after) if ECHO.match(u))
            answer = next(t for t, u in after[echo:] if not ECHO.match(u) and not u.startswith(NOTIFICATION))
            self.answers.append((name, answer - sent))
        return said

    def tab_to(self, pattern, backwards=False, tabs=40):
        """Presses Tab (Shift+Tab) until Orca names the control that matches."""
        for _ in range(tabs):
            spoken = self.press("shift+Tab" if backwards else "Tab")
            if re.search(pattern, spoken):
                return spoken
        raise Failed("no control %r within %d Tabs" % (pattern, tabs))


def question(keys, first, buttons):
    """What the question said when it appeared, then each Tab and Shift+Tab
    inside it, which must name one of its buttons."""
    said = [keys.orca.settled()] if first is None else [first]
    for key in ("Tab", "shift+Tab"):
        answer = keys.press(key)
        if not re.match(r"^(%s) push button" % "|".join(map(re.escape, buttons)), answer):
            raise Failed("%s left the question for %r" % (key, answer))
        said.append(answer)
    return said


def journey(program, folder, display, orca):
    """The keyboard journey; returns what Orca said on each screen and the
    run's utterances with their seconds after RUN."""
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=folder)
    shutil.copyfile(SAMPLE, os.path.join(folder, "cv7.frm"))
    orca.started()
    tamro = subprocess.Popen([program], cwd=folder, env=env)
    keys = Keyboard(display, orca)
    screens = {}
    laps = [("", time.monotonic())]
    try:
        keys.focus_window("^TAMRO$")
        orca.wait_for(r"ACCEPT push button")
        screens["disclaimer"] = [orca.spoken[orca.heard - 1][1], orca.settled()]
        laps.append(("disclaimer", time.monotonic()))

        drives = [keys.press("Return", until=r"^Select HA#")]
        # The write question holds the keyboard; Escape answers CANCEL.
        keys.tab_to(r"^WrtPermit check box", backwards=True)
        screens["write question"] = question(keys, keys.press("space", until=r"^CANCEL push button"),
                                             ("OK", "CANCEL"))
        drives.append(keys.press("Escape", until=r"^Select HA#"))
        laps.append(("write question", time.monotonic()))

        # A download through the file dialog to every drive the list ticks.
        dialog = [keys.tab_to(r"^MicroCode DL push button", backwards=True)]
        subprocess.run(["xdotool", "key", "Return"], env=keys.env, check=True)
        keys.focus_window("^FileOpen$")
        dialog.append(orca.wait_for(r"FileOpen"))
        for char in "cv7.frm":
            keys.echoed(char)
        subprocess.run(["xdotool", "key", "Return"], env=keys.env, check=True)
        keys.window_gone("^FileOpen$")
        keys.focus_window("^TAMRO$")
        dialog.append(keys.tab_to(r"^Exec push button"))
        download_from = len(orca.spoken)
        keys.press("Return")
        orca.wait_for(re.escape(NOTIFICATION) + r".*" + re.escape(FINISHED))
        screens["download"] = dialog + [u for u in orca.texts(download_from) if u.startswith(NOTIFICATION)]
        laps.append(("download", time.monotonic()))

        # Scan ticks the drives again; all but the first are unticked.
        keys.tab_to(r"^Scan push button")
        subprocess.run(["xdotool", "key", "Return"], env=keys.env, check=True)  # the focus stays: nothing is said
        drives.append(keys.tab_to(r"^Select HA#0/ID00 .* check box checked"))
        for _ in range(3):
            drives.append(keys.tab_to(r"^Select HA#.* check box checked"))
            drives.append(keys.press("space"))
        drives.append(keys.tab_to(r"^RUN\. push button"))
        screens["drive list"] = drives
        laps.append(("drive list", time.monotonic()))

        # The run, keys pressed all along it, until its end is announced.
        run_from = len(orca.spoken)
        started = clock_of_day()
        subprocess.run(["xdotool", "key", "Return"], env=keys.env, check=True)
        # Bounded by the program, not by a count that a slow machine outruns:
        # the run ends, or the program does.
        while not any(FINISHED in u and u.startswith(NOTIFICATION) for u in orca.texts(run_from)):
            if tamro.poll() is not None:
                raise Failed("the program ended during the run; Orca said %r" % orca.texts(run_from)[-10:])
            keys.press("Tab", timed=True)
        run = [(t - started, u) for t, u in orca.spoken[run_from:]]
        laps.append(("run", time.monotonic()))

        orca.heard = len(orca.spoken)
        finished = [keys.tab_to(r"^Open log of HA#0/ID00 .* (PASS|FAIL)\.")]
        keys.tab_to(r"^NewTEST push button")
        screens["retest question"] = question(keys, keys.press("Return", until=r"^START push button"),
                                              ("START", "EXIT"))
        screens["finished"] = finished
        laps.append(("finished and retest question", time.monotonic()))
        return screens, run, keys.answers, keys.lost, laps
    finally:
        if tamro.poll() is not None:
            print("the program ended on its own with %d" % tamro.returncode)
        tamro.kill()
        tamro.wait()


def check(screens, run, spoken):
    everything = "\n".join(spoken)
    screen = {name: "\n".join(said) for name, said in screens.items()}
    announced = [u[len(NOTIFICATION):] for u in spoken if u.startswith(NOTIFICATION)]
    run_announced = [u[len(NOTIFICATION):] for _, u in run if u.startswith(NOTIFICATION)]
    assert re.search(r"^TAMRO frame", everything, re.M), "the window as a frame"
    assert "ACCEPT push button" in screen["disclaimer"] and "DISCLAIMER" in screen["disclaimer"] and \
        "no warranty" in screen["disclaimer"]
    assert re.search(r"^Select HA#\d/ID\d\d  \S.* check box checked", screen["drive list"], re.M), "a slot's line"
    assert "RUN. push button" in screen["drive list"]
    # The download: its verdicts and its end are announced.
    assert "FileOpen" in screen["download"], "the file dialog"
    assert re.search(r"HA#0/ID00 PASS\..*HA#0/ID01 FAIL\..*" + re.escape(FINISHED), screen["download"], re.S), \
        "the download's verdicts"
    # A question's text is said once as it appears.
    for name, text in (("write question", "Do you permit to issue Write command on all drives ?"),
                       ("write question", "user data on these disks will be destroyed"),
                       ("retest question", "Did you connect new drives for test ?")):
        said = screens[name][0].count(text)
        assert said == 1, "%r said %d times" % (text, said)
    # The run: its drive, procedures, verdict and end, in order, once each.
    expected = [r"^HA#0/ID00  HALCYON .* Run\.$", r"^HA#0/ID00 Random Seek Read\.?$", r"^HA#0/ID00 Random Seek\.?$",
                r"HA#0/ID00 PASS", re.escape(FINISHED)]
    at = 0
    for pattern in expected:
        found = [i for i, u in enumerate(run_announced) if re.search(pattern, u)]
        assert found, "not announced during the run: %r in %r" % (pattern, run_announced)
        assert found[0] >= at, "announced out of order: %r in %r" % (pattern, run_announced)
        at = found[0]
    assert len(run_announced) == len(set(run_announced)), "an announcement repeated: %r" % run_announced
    assert not [u for u in announced if "LBA" in u], "the LBA counter announced"
    assert "Open log of HA#0/ID00" in screen["finished"]
    # Bars: never a bare percentage, and, asked for, each with its name.
    bare = [u for u in spoken if re.search(r"\bpercent\b", u) and not re.search(r"(Total|Test) Progress", u)]
    assert not bare, "a bar spoken without its name: %r" % bare
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
        screens, run, answers, lost, laps = journey(program, folder, display, orca)
        orca.poll()
        for screen, said in screens.items():
            print("%s:" % screen)
            for utterance in said:
                print("    %s" % utterance)
        print("the run, in seconds after RUN.:")
        for second, utterance in run:
            if not ECHO.match(utterance):
                print("  %6.1f  %s" % (second, utterance))
        announcements = [s for s, u in run if u.startswith(NOTIFICATION)]
        minutes = max(run[-1][0], 1.0) / 60 if run else 1.0
        print("announcements: %d in %.1f s, %.1f a minute" % (len(announcements), minutes * 60,
                                                              len(announcements) / minutes))
        print("keys' answer times during the run (s): %s" % " ".join("%.2f" % a for _, a in answers))
        if answers:
            print("longest %.2f s, median %.2f s" % (max(a for _, a in answers),
                                                     sorted(a for _, a in answers)[len(answers) // 2]))
        print("seconds: %s" % ", ".join("%s %.1f" % (name, t - laps[i][1]) for i, (name, t) in enumerate(laps[1:])))
        if lost:
            print("keys that never reached Orca and were pressed again: %s" % " ".join(lost))
        check(screens, run, orca.texts())
        print("PASS")
        return 0
    except (Failed, AssertionError, subprocess.CalledProcessError) as e:
        orca.poll()
        for utterance in orca.texts()[-40:]:
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
