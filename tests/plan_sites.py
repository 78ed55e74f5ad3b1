#!/usr/bin/env python3
"""Publishes the update sites of the plan tests. Usage: plan_sites.py SITES ROOT"""
import hashlib
import io
import pathlib
import re
import sys
import tempfile
import zipfile

from update_site import ARCHIVE_TAGS, BASE_TAGS, publish

FILES = {"System/L2.exe": b"client build\n" * 40, "system/l2.exe": b"patch build\n" * 50,
         "system/l2.ini": b"[Engine]\n", "a.txt": b"small a\n", "B.txt": b"capital B\n",
         "clan/emblem.dat": bytes(range(256)), "Данные/Файл.txt": b"old", "данные/файл.txt": b"new!"}
NO_ARCHIVES = [(tag + suffix, "") for tag in ARCHIVE_TAGS.values() for suffix in ("Sha256", "Size")]


def main():
    sites, root = pathlib.Path(sys.argv[1]), sys.argv[2]
    with tempfile.TemporaryDirectory() as work:
        client = pathlib.Path(work)
        for relative, data in FILES.items():
            (client / relative).parent.mkdir(parents=True, exist_ok=True)
            (client / relative).write_bytes(data)

        merge = {"client": ["System/L2.exe", "system/l2.ini", "a.txt", "B.txt", "Данные/Файл.txt"],
                 "patch": ["system/l2.exe", "system/l2.ini", "данные/файл.txt"], "patch_clan": ["clan/emblem.dat"]}
        clan_archive = [("PatchClanManifestUrl", root + "tavrine/updater/patch_clan/UpdateInfo.xml.zip")]
        publish(client, sites / "plan-merge", merge, root, settings=clan_archive)
        # A configured SHA-256 matches in capitals too.
        config = sites / "plan-merge" / "tavrine_updater" / "UpdateConfig.xml"
        config.write_text(re.sub(r"(?<=<PatchManifestSha256>)\w+", lambda m: m.group(0).upper(),
                                 config.read_text(encoding="utf-8-sig")), encoding="utf-8")

        publish(client, sites / "plan-plain", {"client": ["a.txt"], "patch": []}, root, settings=NO_ARCHIVES)
        (sites / "plan-plain" / "tavrine" / "updater" / "patch_clan" / "UpdateInfo.xml").write_bytes(b"")

        # The clan's zipped manifest is what the configuration says, but unpacks to over 64 MiB.
        oversized = io.BytesIO()
        with zipfile.ZipFile(oversized, "w", zipfile.ZIP_DEFLATED) as archive:
            archive.writestr("UpdateInfo.xml", b"<UpdateInfo>" + b" " * (64 << 20) + b"</UpdateInfo>")
        oversized = oversized.getvalue()
        publish(client, sites / "plan-retries", {"client": ["a.txt"], "patch": ["B.txt"], "patch_clan": ["a.txt"]},
                root, settings=[("ClientManifestSize", "1000000"), ("PatchManifestSha256", "0" * 64),
                                ("PatchClanManifestSha256", hashlib.sha256(oversized).hexdigest()),
                                ("PatchClanManifestSize", str(len(oversized)))])
        (sites / "plan-retries" / "tavrine" / "updater" / "patch_clan" / "UpdateInfo.xml.zip").write_bytes(oversized)

        # client's zipped manifest never ends; patch's and patch_clan's have no configured size and
        # announce one byte more than 64 MiB, and exactly 64 MiB.
        publish(client, sites / "plan-endless", {"client": ["a.txt"], "patch": ["B.txt"], "patch_clan": ["a.txt"]},
                root, settings=[("PatchManifestSize", ""), ("PatchClanManifestSize", "")])
        for source, fault in (("client", "mode=endless&step=65536&delay=0"), ("patch", "clen=67108865"),
                              ("patch_clan", "clen=67108864")):
            (sites / "plan-endless" / "tavrine" / "updater" / source / "UpdateInfo.xml.zip.fault").write_text(fault)

        gone = NO_ARCHIVES + [(tag, root + "gone/" + source + "/") for source, tag in BASE_TAGS.items()]
        for name in ("plan-down", "plan-cancel"):
            publish(client, sites / name, {}, root, settings=gone)
            (sites / name / "gone" / "patch").mkdir(parents=True)
            (sites / name / "gone" / "patch" / "UpdateInfo.xml.fault").write_text("mode=drop_head")


if __name__ == "__main__":
    main()
