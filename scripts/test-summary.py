#!/usr/bin/env python3
"""Adds up the GoogleTest XML reports of one test run and prints the totals.

With CTest's own JUnit report as a second argument it also names, plainly, the
CTest tests that did not run (a fixture they need failed) and the ones that
failed without leaving a GoogleTest report (a crash, a hang, a failed set-up
step), and exits with 1 when there are any: "0 failed" alone would hide them.
"""
import pathlib
import sys
import xml.etree.ElementTree as ElementTree

reports = pathlib.Path(sys.argv[1])
passed = failed = skipped = 0
for report in sorted(reports.glob("*.xml")):
    for case in ElementTree.parse(report).getroot().iter("testcase"):
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            skipped += 1
        else:
            passed += 1
print(f"tests: {passed} passed, {failed} failed, {skipped} skipped")

not_run = []
unreported = []
if len(sys.argv) > 2:
    junit = pathlib.Path(sys.argv[2])
    if not junit.exists():
        print(f"ctest: no results in {junit}: CTest did not finish")
        sys.exit(1)
    for case in ElementTree.parse(junit).getroot().iter("testcase"):
        name = case.get("name")
        if case.get("status") == "notrun":
            not_run.append(name)
        elif case.get("status") == "fail" and not (reports / f"{name}.xml").exists():
            unreported.append(name)
if not_run:
    print(f"ctest: {len(not_run)} not run: {', '.join(not_run)}")
if unreported:
    print(f"ctest: {len(unreported)} failed without a report: {', '.join(unreported)}")
sys.exit(1 if not_run or unreported else 0)
