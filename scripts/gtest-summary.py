#!/usr/bin/env python3
"""Prints which tests of a GoogleTest program failed, and why, from the XML
report it wrote (--gtest_output=xml:FILE). CTest shows a test program's
output, but under Wine that output can stop early (seen: nothing after the
first test's start line); the report is written by the program itself at
its end.

    scripts/gtest-summary.py REPORT.xml
"""
import sys
import xml.etree.ElementTree as ElementTree


def main(path):
    try:
        root = ElementTree.parse(path).getroot()
    except (OSError, ElementTree.ParseError):
        print("gtest-summary: no report from the test program: it ended before its last test (a crash?)")
        return 1
    failed = []
    count = 0
    for case in root.iter("testcase"):
        if case.get("status", "run") != "run" or case.get("result", "completed") == "skipped":
            continue
        count += 1
        failures = case.findall("failure")
        if failures:
            failed.append((case.get("classname", "?") + "." + case.get("name", "?"), failures))
    print(f"gtest-summary: {count} tests run, {len(failed)} failed")
    for name, failures in failed:
        print(f"FAILED {name}")
        for failure in failures:
            text = (failure.text or failure.get("message", "")).strip()
            for line in text.splitlines()[:40]:
                print("    " + line)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
