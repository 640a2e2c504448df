#!/usr/bin/env python3
"""The drive list through the accessibility bus alone, as a screen reader
user meets it: the real program on the simulated bus, under Xvfb, with a D-Bus
session and an AT-SPI bus of its own. Every button and check box is found by
its caption, every label is read, a Quick run is started with RUN., and the
verdicts read from the window are those the program wrote into the logs. The
log button then opens the log in the viewer.

Usage: drive_list_a11y.py <tamro executable>
Exit status 77 (skipped) when Xvfb, D-Bus or AT-SPI is missing."""

import errno
import glob
import os
import random
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import warnings

SKIPPED = 77
FINISHED = "<< The above indicated drives analysis was finished.>>"
SESSION_MARK = "TAMRO_A11Y_OWN_SESSION"


def missing_tool():
    for tool in ("Xvfb", "dbus-run-session"):
        if shutil.which(tool) is None:
            return tool
    if not glob.glob("/usr/share/dbus-1/services/org.a11y.Bus.service"):
        return "at-spi2-core (the AT-SPI bus)"
    try:
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi  # noqa: F401
    except (ImportError, ValueError) as e:
        return "python3-gi with gir1.2-atspi-2.0 (%s)" % e
    return None


if __name__ == "__main__" and os.environ.get(SESSION_MARK) is None:
    tool = missing_tool()
    if tool is not None:
        print("SKIP: %s is not installed" % tool)
        sys.exit(SKIPPED)
    env = dict(os.environ, **{SESSION_MARK: "1"})
    os.execvpe("dbus-run-session", ["dbus-run-session", "--", sys.executable] + sys.argv, env)

import gi  # noqa: E402
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

Role = Atspi.Role
State = Atspi.StateType


class Failed(Exception):
    pass


def wait_for(what, probe, timeout=60.0):
    """Polls probe() until it returns something true, and returns that;
    events from the bus are delivered meanwhile."""
    end = time.monotonic() + timeout
    while True:
        while GLib.MainContext.default().iteration(False):
            pass
        value = probe()
        if value:
            return value
        if time.monotonic() > end:
            raise Failed("timed out waiting for " + what)
        time.sleep(0.05)


class Announcements:
    """What the program announces: the notifications it shows."""

    def __init__(self):
        self.texts = []
        self.listener = Atspi.EventListener.new(self.on_showing)
        self.listener.register("object:state-changed:showing")

    def on_showing(self, event):
        if event.detail1 and event.source.get_role() == Role.NOTIFICATION:
            self.texts.append(event.source.get_name())


def display_answers(number):
    """Whether an X client reaches this display's server and is let in. The
    socket is tried as the toolkits try it (the abstract name first, then
    the file): a server of another session under the same abstract name, or
    one that is gone, fails here rather than in the program under test."""
    setup = struct.pack("<BxHHHHxx", 0x6C, 11, 0, 0, 0)
    for name in ("\0/tmp/.X11-unix/X%d" % number, "/tmp/.X11-unix/X%d" % number):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
            connection.settimeout(10)
            try:
                connection.connect(name)
            except OSError as e:
                if e.errno in (errno.ENOENT, errno.ECONNREFUSED):
                    continue
                return False
            try:
                connection.sendall(setup)
                return connection.recv(1) == b"\x01"
            except OSError:
                return False
    return False


def start_xvfb(folder, number):
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-displayfd", str(write_end), "-screen", "0",
                             "1024x768x24", "-nolisten", "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                            stderr=open(os.path.join(folder, "xvfb.err"), "w"))
    os.close(write_end)
    # The number and its line end may come in two writes: the pipe stays open
    # for both.
    announced = b""
    while not announced.endswith(b"\n"):
        chunk = os.read(read_end, 32)
        if not chunk:
            break
        announced += chunk
    os.close(read_end)
    announced = announced.decode().strip()
    return xvfb, int(announced) if announced.isdigit() and xvfb.poll() is None else None


def start_display(folder):
    # Not the first display whose lock file is free (Xvfb's own choice): where
    # sessions share the abstract socket names, :0 may answer for another
    # session's server. A number away from the usual ones, tried until one
    # answers as ours.
    attempts = []
    for number in random.sample(range(200, 9000), 4):
        xvfb, announced = start_xvfb(folder, number)
        if announced is not None and display_answers(announced):
            return xvfb, ":%d" % announced
        with open(os.path.join(folder, "xvfb.err")) as err:
            attempts.append("display %s: %s" % (announced, err.read().strip() or "no answer"))
        if xvfb.poll() is None:
            xvfb.terminate()
        xvfb.wait()
    raise Failed("Xvfb did not start: " + "; ".join(attempts))


def switch_accessibility_on():
    # What a desktop does when a screen reader starts: the toolkits of the
    # programs that start afterwards connect to the AT-SPI bus.
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    bus.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Set",
                  GLib.Variant("(ssv)", ("org.a11y.Status", "IsEnabled", GLib.Variant("b", True))),
                  None, Gio.DBusCallFlags.NONE, 10000, None)


def application(name):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == name:
            app.set_cache_mask(Atspi.Cache.NONE)  # every read asks the program
            return app
    return None


def descendants(node):
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is None:
            continue
        yield child
        yield from descendants(child)


def has(node, state):
    return node.get_state_set().contains(state)


class Window:
    """The program's accessible objects, walked once: the widgets live as long
    as the window, and every read below asks the program again."""

    def __init__(self, app):
        self.nodes = [(n, n.get_role()) for n in descendants(app)]

    def captioned(self, role, caption, showing=True):
        """The one control (on the screen) with that role and caption."""
        found = [n for n, r in self.nodes
                 if r == role and n.get_name() == caption and (has(n, State.SHOWING) or not showing)]
        if len(found) != 1:
            raise Failed("%d %s named %r on the screen" % (len(found), role.value_nick, caption))
        return found[0]


def press(node):
    with warnings.catch_warnings():  # the typelib names only the old spelling
        warnings.simplefilter("ignore", DeprecationWarning)
        names = [node.get_action_name(i) for i in range(node.get_n_actions())]
    for wanted in ("Press", "Toggle"):
        if wanted in names:
            node.do_action(names.index(wanted))
            return
    raise Failed("%r has no press action (%s)" % (node.get_name(), names))


def log_verdicts(folder):
    """serial -> verdict, from the banners of the logs the run wrote."""
    verdicts = {}
    for file_name in os.listdir(folder):  # a drive without a serial writes ".log"
        if not file_name.endswith(".log"):
            continue
        with open(os.path.join(folder, file_name), "rb") as f:
            data = f.read().decode("latin-1")
        for verdict in ("PASS", "FAIL", "NO Judge"):
            if "*  %s  *\r\n" % verdict in data:
                verdicts[file_name[:-len(".log")]] = verdict
    return verdicts


# What the JUDGE column shows for each verdict of a run.
SHOWN_FOR = {"PASS": "PASS", "FAIL": "FAIL", "NO Judge": "------"}


def name(node):
    return node.get_name()


def text_of(node):
    return Atspi.Text.get_text(node, 0, -1)


def serial_of(line):
    """The serial after the second '#' of "HA#0/ID01  ... #HS1B2345"; none
    for a drive whose identity is not shown."""
    parts = line.split("#")
    return parts[2] if len(parts) > 2 else None


def journey(program, folder, display):
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=folder)
    env.pop("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", None)  # the bus alone switches it on
    tamro = subprocess.Popen([program], cwd=folder, env=env)
    viewer_pid = None
    try:
        # Listening long before the run: the program learns of a new listener
        # through the bus, a little later.
        announced = Announcements()
        app = wait_for("the program on the AT-SPI bus", lambda: application("tamro"))
        assert name(app.get_child_at_index(0)) == "TAMRO"
        window = Window(app)

        accept = window.captioned(Role.PUSH_BUTTON, "ACCEPT")
        window.captioned(Role.PUSH_BUTTON, "CANCEL")
        wait_for("ACCEPT after the scan", lambda: has(accept, State.SENSITIVE))
        wait_for("the focus on ACCEPT", lambda: has(accept, State.FOCUSED))
        assert accept.get_description().startswith("DISCLAIMER"), "the disclaimer, read with ACCEPT"
        judge_heading = window.captioned(Role.LABEL, "JUDGE", showing=False)
        press(accept)
        wait_for("the drive list", lambda: has(judge_heading, State.SHOWING))

        # Every button and check box of the drive list by its caption, every
        # label read; no control's name from the window description is read.
        for caption in ("MicroCode DL", "Exec", "Scan", "CANCEL", "RUN."):
            assert window.captioned(Role.PUSH_BUTTON, caption).get_description() == ""
        for caption in ("Extended", "Standard", "Quick", "ReadOnly", "WrtPermit"):
            window.captioned(Role.CHECK_BOX, caption)
        for heading in ("Date", "TestMode", "Tool", "#HA/#ID", "Product ~ Device Information", "JUDGE",
                        "Total Progress", "Test Progress"):
            window.captioned(Role.LABEL, heading)
        # The drive list pane holds, after its three headings, each row's box,
        # line, JUDGE text and log button, then the status bar: the status
        # line, read-only text, and the bars.
        pane = judge_heading.get_parent()
        kids = [pane.get_child_at_index(i) for i in range(pane.get_child_count())]
        rows = []
        for n in range(7):
            select, line, judge, log = kids[3 + 4 * n:7 + 4 * n]
            assert [k.get_role() for k in (select, line, judge, log)] == \
                [Role.CHECK_BOX, Role.LABEL, Role.LABEL, Role.RADIO_BUTTON]
            rows.append({"line": name(line), "select": select, "log": log, "judge": judge})
            print("row %d: %r, JUDGE %r" % (n, name(line), name(judge)))
        status_bar = kids[3 + 4 * 7]
        assert status_bar.get_role() == Role.STATUS_BAR
        status = status_bar.get_child_at_index(0)
        assert status.get_role() == Role.TEXT and has(status, State.READ_ONLY) and has(status, State.FOCUSABLE)
        print("status line: %r" % text_of(status))

        # Untick and tick again the first drive that can be chosen.
        chosen = next(r for r in rows if has(r["select"], State.SENSITIVE))
        assert has(chosen["select"], State.CHECKED)
        wait_for("the focus on the first drive", lambda: has(chosen["select"], State.FOCUSED))
        press(chosen["select"])
        wait_for("the unticked slot's JUDGE text", lambda: name(chosen["judge"]) == "------")
        assert not has(chosen["select"], State.CHECKED)
        press(chosen["select"])
        wait_for("the ticked slot's JUDGE text", lambda: name(chosen["judge"]) == "")
        assert has(chosen["select"], State.CHECKED)
        ticked = [r for r in rows if has(r["select"], State.CHECKED)]

        quick = window.captioned(Role.CHECK_BOX, "Quick")
        press(quick)
        wait_for("Quick chosen", lambda: has(quick, State.CHECKED))
        press(window.captioned(Role.PUSH_BUTTON, "RUN."))
        wait_for("the end of the run", lambda: text_of(status) == FINISHED, timeout=120)
        # The end is announced, wherever the focus is.
        wait_for("the end announced", lambda: any(FINISHED in t for t in announced.texts))
        print("announced: %r" % announced.texts)

        # The verdicts read from the window are those the logs record. A drive
        # that failed at the scan was judged at ACCEPT: its line shows no
        # serial and its JUDGE text stays empty.
        logs = log_verdicts(folder)
        judged = [r for r in rows if has(r["log"], State.SENSITIVE)]
        assert all(r in judged for r in ticked), "every ticked drive is judged"
        unclaimed = dict(logs)
        for row in sorted(judged, key=lambda r: serial_of(r["line"]) is None):
            shown = name(row["judge"])
            print("verdict of %r: %r" % (row["line"], shown))
            for control, prefix in ((row["select"], "Select "), (row["log"], "Open log of ")):
                assert name(control) == prefix + row["line"] + (" " + shown if shown else ""), name(control)
            serial = serial_of(row["line"])
            if serial is not None:
                assert serial in unclaimed, "no log for " + row["line"]
                assert shown == SHOWN_FOR[unclaimed.pop(serial)], (row["line"], shown, logs[serial])
            else:
                assert shown == "", (row["line"], shown)
                serial = next((s for s, v in unclaimed.items() if v == "FAIL"), None)
                assert serial is not None, "no FAIL log for %s in %s" % (row["line"], logs)
                del unclaimed[serial]
        assert not unclaimed, "logs without a judged slot: %s" % sorted(unclaimed)

        # Its log button opens the first ticked drive's log in the viewer.
        row = ticked[0]
        press(row["log"])
        viewer = wait_for("the log viewer", lambda: application("tamro-viewer"))
        viewer_pid = viewer.get_process_id()
        path = os.path.join(folder, serial_of(row["line"]) + ".log")
        frame = viewer.get_child_at_index(0)
        assert name(frame) == path, (name(frame), path)
        text = next(n for n in descendants(viewer) if n.get_role() == Role.TEXT and has(n, State.MULTI_LINE))
        with open(path, "rb") as f:
            assert text.get_text(0, -1).split("\n") == f.read().decode("latin-1").split("\r\n")
        print("viewer: %r shows the log's lines" % name(frame))

        press(window.captioned(Role.PUSH_BUTTON, "EXIT"))
        assert tamro.wait(timeout=30) == 0
    finally:
        if viewer_pid:
            try:
                os.kill(viewer_pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        if tamro.poll() is None:
            tamro.kill()
            tamro.wait()


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    program = os.path.abspath(sys.argv[1])
    folder = tempfile.mkdtemp(prefix="tamro-a11y-")
    xvfb = None
    try:
        xvfb, display = start_display(folder)
        switch_accessibility_on()
        journey(program, folder, display)
        print("PASS")
        return 0
    except (Failed, AssertionError) as e:
        print("FAIL: %s" % (e,))
        return 1
    finally:
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
