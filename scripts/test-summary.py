#!/usr/bin/env python3
"""Adds up the GoogleTest XML reports of one test run and prints the totals."""
import pathlib
import sys
import xml.etree.ElementTree as ElementTree

passed = failed = skipped = 0
for report in sorted(pathlib.Path(sys.argv[1]).glob("*.xml")):
    for case in ElementTree.parse(report).getroot().iter("testcase"):
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            skipped += 1
        else:
            passed += 1
print(f"tests: {passed} passed, {failed} failed, {skipped} skipped")
