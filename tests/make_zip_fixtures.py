#!/usr/bin/env python3
"""Writes the zip archives the zip extraction tests read, and beside them in
"expected" the exact bytes each tested entry holds.

Usage: make_zip_fixtures.py OUTPUT_FOLDER
"""
import os
import random
import shutil
import sys
import zipfile

LARGE_SIZE = 96 * 1024 * 1024
LIAR_DECLARED_SIZE = 1000


def text_bytes(seed, size):
    """Compressible but irregular text, so deflate uses real Huffman blocks."""
    rng = random.Random(seed)
    words = [b"alpha", b"beta", b"gamma", b"\xd0\xba\xd0\xbb\xd0\xb8\xd0\xb5\xd0\xbd\xd1\x82",
             b"\r\n", b"\x00\x01\xff", b"system", b"l2.exe", b"0123456789"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words)
        out += bytes([rng.randrange(256)])
    return bytes(out[:size])


def add(archive, name, data, method):
    info = zipfile.ZipInfo(name, date_time=(2024, 1, 2, 3, 4, 6))
    info.compress_type = method
    archive.writestr(info, data)


def write_expected(folder, name, data):
    with open(os.path.join(folder, "expected", name), "wb") as f:
        f.write(data)


def patch_uncompressed_size(path, size):
    """Rewrites the declared uncompressed size of the only entry in both headers."""
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        assert data[:4] == b"PK\x03\x04"
        data[22:26] = size.to_bytes(4, "little")
        central = data.index(b"PK\x01\x02")
        data[central + 24:central + 28] = size.to_bytes(4, "little")
        f.seek(0)
        f.write(data)


def main():
    out = sys.argv[1]
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(os.path.join(out, "expected"))

    readme = text_bytes(1, 1024 * 1024 + 123)
    first_match = b"<UpdateInfo>first</UpdateInfo>\r\n"
    second_match = b"<UpdateInfo>second</UpdateInfo>\r\n"
    back = "\u041e\u0431\u0440\u0430\u0442\u043d\u044b\u0439 slash\n".encode("utf-8")
    cyrillic = b"named in UTF-8\n"
    with zipfile.ZipFile(os.path.join(out, "choose.zip"), "w") as z:
        add(z, "folder/", b"", zipfile.ZIP_STORED)
        add(z, "data/readme.txt", readme, zipfile.ZIP_DEFLATED)
        add(z, "x/UpdateInfo.xml", first_match, zipfile.ZIP_STORED)
        add(z, "y/updateinfo.xml", second_match, zipfile.ZIP_DEFLATED)
        add(z, "win\\Back.txt", back, zipfile.ZIP_DEFLATED)
        add(z, "ru/\u0424\u0430\u0439\u043b.TXT", cyrillic, zipfile.ZIP_STORED)
        add(z, "empty.txt", b"", zipfile.ZIP_STORED)
    write_expected(out, "readme.txt", readme)
    write_expected(out, "first-match.xml", first_match)
    write_expected(out, "Back.txt", back)
    write_expected(out, "cyrillic.txt", cyrillic)

    with zipfile.ZipFile(os.path.join(out, "dirs-only.zip"), "w") as z:
        add(z, "a/", b"", zipfile.ZIP_STORED)
        add(z, "a/b/", b"", zipfile.ZIP_STORED)
    with zipfile.ZipFile(os.path.join(out, "no-entries.zip"), "w"):
        pass

    with open(os.path.join(out, "not-a-zip.zip"), "wb") as f:
        f.write(b"This is a plain text file, not a zip archive.\r\n" * 20)
    with open(os.path.join(out, "choose.zip"), "rb") as f:
        whole = f.read()
    with open(os.path.join(out, "truncated.zip"), "wb") as f:
        f.write(whole[: len(whole) // 2])

    # A stored entry with one data byte flipped: only the CRC check can notice it.
    payload = text_bytes(2, 100000)
    corrupt = os.path.join(out, "flipped-byte.zip")
    with zipfile.ZipFile(corrupt, "w") as z:
        add(z, "payload.bin", payload, zipfile.ZIP_STORED)
    with open(corrupt, "r+b") as f:
        data_start = 30 + len("payload.bin")
        f.seek(data_start + 5000)
        original = f.read(1)
        f.seek(data_start + 5000)
        f.write(bytes([original[0] ^ 0x20]))

    with zipfile.ZipFile(os.path.join(out, "large.zip"), "w") as z:
        add(z, "big.bin", (bytes(range(256)) * 16) * (LARGE_SIZE // 4096), zipfile.ZIP_DEFLATED)

    # Four MiB of zeros whose headers declare only LIAR_DECLARED_SIZE bytes.
    liar = os.path.join(out, "declared-too-small.zip")
    with zipfile.ZipFile(liar, "w") as z:
        add(z, "bomb.bin", bytes(4 * 1024 * 1024), zipfile.ZIP_DEFLATED)
    patch_uncompressed_size(liar, LIAR_DECLARED_SIZE)


if __name__ == "__main__":
    main()
