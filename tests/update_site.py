#!/usr/bin/env python3
"""Publishes a client folder as an update site, the way the real servers hold it.

The site folder gets, below the server root:
  tavrine_updater/UpdateConfig.xml   the server configuration
  tavrine/updater/SOURCE/UpdateInfo.xml and UpdateInfo.xml.zip, for the sources
      client, patch and patch_clan (the zipped manifest's SHA-256 and size are
      in the configuration, so the updater tries it first)
  tavrine/updater/SOURCE/PATH.zip    one zip archive per listed file, holding
      the file under its own name; the manifest gives its size and CRC-32
  tavrine_updater/NAME               the updater package, with --launcher

http_test_server.py serves SITES/NAME to a client whose User-Agent holds
"site=NAME" and SITES/default to any other, on both HTTPS roots. Several
scenarios are published side by side as SITES/NAME1, SITES/NAME2, ...

By hand (publish the folder and serve it on ports 47443 and 47444):
  tests/update_site.py --client ~/game --sites /tmp/sites --serve /tmp/site-state
"""
import argparse
import datetime
import hashlib
import pathlib
import shutil
import subprocess
import sys
import xml.sax.saxutils
import zipfile
import zlib

SOURCES = ("client", "patch", "patch_clan")
BASE_TAGS = {"client": "ClientPath", "patch": "PatchPath", "patch_clan": "PatchClanPath"}
ARCHIVE_TAGS = {"client": "ClientManifest", "patch": "PatchManifest", "patch_clan": "PatchClanManifest"}
BOM = b"\xef\xbb\xbf"


def elements(values, separator):
    return separator.join("<%s>%s</%s>" % (tag, xml.sax.saxutils.escape(text), tag) for tag, text in values)


def write_zip(path, member, data):
    path.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr(member, data)


def publish_source(client, folder, paths, sizes):
    """Writes the source's file archives and manifests; returns the zipped manifest.
    sizes maps a relative path to the size its manifest entry gives instead of its own."""
    models = []
    for relative in paths:
        data, name = (client / relative).read_bytes(), pathlib.PurePosixPath(relative)
        write_zip(folder / (relative + ".zip"), name.name, data)
        folder_text = "" if str(name.parent) == "." else str(name.parent)
        models.append("  <FileModel>%s</FileModel>\n" % elements(
            [("Name", name.name), ("Path", folder_text), ("Size", str(sizes.get(relative, len(data)))),
             ("Hash", "%08x" % zlib.crc32(data))], ""))
    manifest = BOM + ("<UpdateInfo>\n%s</UpdateInfo>\n" % "".join(models)).encode("utf-8")
    write_zip(folder / "UpdateInfo.xml.zip", "UpdateInfo.xml", manifest)
    (folder / "UpdateInfo.xml").write_bytes(manifest)
    return (folder / "UpdateInfo.xml.zip").read_bytes()


def publish(client, site, files=None, root="https://localhost:47443/", launcher=None, launcher_version="",
            settings=(), sizes=None):
    """Writes the site for the client folder. files maps a source to its relative
    paths ("/"-separated, below client); a source it lacks gets an empty manifest,
    and client gets every file when files is None. settings are (tag, text) pairs
    written into the configuration last, replacing a tag written before; sizes
    maps a relative path to the size its manifest entry gives instead of its own."""
    client, site = pathlib.Path(client), pathlib.Path(site)
    if files is None:
        files = {"client": sorted(p.relative_to(client).as_posix() for p in client.rglob("*") if p.is_file())}
    shutil.rmtree(site, ignore_errors=True)
    now = datetime.datetime.now(datetime.timezone.utc)
    config = {"GeneratedAtUtc": now.strftime("%Y-%m-%d %H:%M:%S")}
    for source in SOURCES:
        base = "tavrine/updater/%s/" % source
        archive = publish_source(client, site / base, files.get(source, []), sizes or {})
        config[BASE_TAGS[source]] = root + base
        config[ARCHIVE_TAGS[source] + "Sha256"] = hashlib.sha256(archive).hexdigest()
        config[ARCHIVE_TAGS[source] + "Size"] = str(len(archive))
    (site / "tavrine_updater").mkdir(parents=True, exist_ok=True)
    if launcher:
        package = pathlib.Path(launcher)
        shutil.copyfile(package, site / "tavrine_updater" / package.name)
        config["LauncherVersion"] = launcher_version
        config["LauncherUrl"] = root + "tavrine_updater/" + package.name
        config["LauncherSha256"] = hashlib.sha256(package.read_bytes()).hexdigest()
    config.update(settings)
    text = "<UpdateConfig>\n  %s\n</UpdateConfig>\n" % elements(config.items(), "\n  ")
    (site / "tavrine_updater" / "UpdateConfig.xml").write_bytes(BOM + text.encode("utf-8"))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--client", required=True, help="folder holding the files to publish")
    parser.add_argument("--sites", required=True, help="folder of sites; the site goes to SITES/NAME, replaced")
    parser.add_argument("--name", default="default", help="the site's name (default: default)")
    parser.add_argument("--files", nargs="+", action="append", metavar="SOURCE [PATH]",
                        help="a source (client, patch, patch_clan) and the relative paths it delivers; "
                             "repeat per source; without any --files, client delivers every file")
    parser.add_argument("--root", help="server root the configuration's URLs start with "
                                       "(default: https://localhost:PORT_A/)")
    parser.add_argument("--launcher", help="updater package (.exe or .zip) the configuration offers")
    parser.add_argument("--launcher-version", default="", help="the offered updater's version")
    parser.add_argument("--set", type=lambda text: tuple(text.split("=", 1)), action="append", default=[], metavar="TAG=VALUE",
                        help="a configuration value, written last; e.g. GameStartPathRu=system/l2.exe, "
                             "ForumLink=forum.example, ClientManifestSize=1; an empty VALUE writes an empty tag")
    parser.add_argument("--serve", metavar="STATE", help="then start http_test_server.py on the sites, "
                                                         "its state (certificates, request log) in STATE")
    parser.add_argument("--port-a", default="47443", help="the default root's port (default: %(default)s)")
    parser.add_argument("--port-b", default="47444", help="with --serve: the direct root's port "
                                                           "(default: %(default)s)")
    args = parser.parse_args()
    files = {entry[0]: entry[1:] for entry in args.files} if args.files else None
    if files and not set(files) <= set(SOURCES):
        parser.error("--files needs a source first: " + ", ".join(SOURCES))
    root = args.root or "https://localhost:%s/" % args.port_a
    publish(args.client, pathlib.Path(args.sites) / args.name, files, root, args.launcher,
            args.launcher_version, args.set)
    if not args.serve:
        return 0
    server = pathlib.Path(__file__).with_name("http_test_server.py")
    return subprocess.call([sys.executable, str(server), "start", "--dir", args.serve, "--sites", args.sites,
                            "--port-a", args.port_a, "--port-b", args.port_b])


if __name__ == "__main__":
    sys.exit(main())
