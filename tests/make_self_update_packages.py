#!/usr/bin/env python3
"""Writes the updater packages that the self-update tests offer, around a
stand-in executable: new.exe (a copy), member.zip (it as bin/tavrineupdater.EXE
after other members), text.zip (a text file only), slow.zip (it and 96 MiB of
zeros, slow to extract) and portal.html (a captive portal's answer).

Usage: make_self_update_packages.py OUTPUT_FOLDER STANDIN_EXE
"""
import pathlib
import sys
import zipfile


def main(output, standin):
    output = pathlib.Path(output)
    output.mkdir(parents=True, exist_ok=True)
    exe = pathlib.Path(standin).read_bytes()
    (output / "new.exe").write_bytes(exe)
    with zipfile.ZipFile(output / "member.zip", "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("readme.txt", "not the updater\r\n")
        archive.writestr("bin/", "")
        archive.writestr("Other.exe", b"MZ other")
        archive.writestr("bin/tavrineupdater.EXE", exe)
    with zipfile.ZipFile(output / "text.zip", "w") as archive:
        archive.writestr("notes.txt", "MZ and nothing else\r\n")
    with zipfile.ZipFile(output / "slow.zip", "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("TavrineUpdater.exe", exe + bytes(96 * 1024 * 1024))
    (output / "portal.html").write_text("<html><body>Please sign in</body></html>\n")


if __name__ == "__main__":
    main(*sys.argv[1:])
