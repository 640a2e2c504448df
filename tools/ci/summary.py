#!/usr/bin/env python3
"""CI's last lines: which optional suites ran, which were skipped and why.

Reads what the CI steps leave in their build folders: CTest's JUnit files
(<build>/ctest-results.xml from tools/test.sh, <build>/qemu-results.xml from
tools/ci/qemu.sh), build-ci-win32/windows-suite.txt and
<build>/package-check.txt. A step CI never reached has left nothing.
Usage: tools/ci/summary.py <build-dir> <windows-build-dir>"""
import os
import re
import sys
import xml.etree.ElementTree as ET

NOT_REACHED = "not reached (CI stopped before it)"


def testcases(path, pattern):
    if not os.path.exists(path):
        return None
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError as e:
        return "unreadable %s: %s" % (path, e)
    return [t for t in root.iter("testcase") if re.search(pattern, t.get("name", ""), re.I)]


def output(case):
    out = case.find("system-out")
    return (out.text or "") if out is not None else ""


def skip_reason(case):
    for line in output(case).splitlines():
        if line.startswith("SKIP"):
            return line.split(":", 1)[-1].strip()
    skipped = case.find("skipped")
    return skipped.get("message", "") if skipped is not None else ""


def ctest_suite(path, pattern, describe_run=None):
    """ran / skipped (why) / failed / not present, from CTest's results."""
    cases = testcases(path, pattern)
    if cases is None:
        return NOT_REACHED
    if isinstance(cases, str):
        return cases
    if not cases:
        return "not present (no test named like /%s/)" % pattern
    names = ", ".join(c.get("name") for c in cases)
    failed = [c for c in cases if c.get("status") == "fail"]
    if failed:
        return "ran and FAILED (%s)" % ", ".join(c.get("name") for c in failed)
    skipped = [c for c in cases if c.get("status") in ("notrun", "disabled")]
    if len(skipped) == len(cases):
        return "skipped (%s)" % (skip_reason(skipped[0]) or "no reason given")
    ran = "ran" + (describe_run(cases) if describe_run else " (%s)" % names)
    return ran + ("; %d skipped" % len(skipped) if skipped else "")


def qemu_accelerator(cases):
    text = "".join(output(c) for c in cases)
    m = re.search(r"guest: (kvm|tcg)\b", text)
    if not m:
        return ""
    why = re.search(r"^(.*TCG instead.*)$", text, re.M)
    return " under " + m.group(1).upper() + (": %s" % why.group(1) if why else "")


def first_line(path):
    if not os.path.exists(path):
        return NOT_REACHED
    with open(path) as f:
        return f.readline().strip()


def main():
    build, windows = sys.argv[1], sys.argv[2]
    results = os.path.join(build, "ctest-results.xml")
    lines = [
        ("Windows", first_line(os.path.join(windows, "windows-suite.txt"))),
        ("QEMU guest", ctest_suite(os.path.join(build, "qemu-results.xml"), r"^qemu_real_drives$",
                                   qemu_accelerator)),
        ("accessibility", ctest_suite(results, r"^DriveListThroughTheAccessibilityBus$")),
        ("screen reader", ctest_suite(results, r"ScreenReader|Orca")),
        ("package", first_line(os.path.join(build, "package-check.txt"))),
    ]
    print("CI optional suites:")
    for name, what in lines:
        print("  %-14s %s" % (name + ":", what))


if __name__ == "__main__":
    main()
