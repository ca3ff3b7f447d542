"""Writes the skin-package test archives into the folder given: each made by Python's zipfile (an
independent writer) and some patched by hand where an archive must lie."""
import io
import struct
import sys
import zipfile
import zlib

out = sys.argv[1]
definition = b'<?xml version="1.0"?><Skin><playerForm Image="bg.bmp"/></Skin>'
image = bytes(range(256)) * 40


def write(name, data):
    with open(f"{out}/{name}", "wb") as f:
        f.write(data)


def archive(entries, **kw):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", **kw) as z:
        for name, data, method in entries:
            z.writestr(zipfile.ZipInfo(name), data, compress_type=method)
    return buf.getvalue()


plain = [("SkinResDef.xml", definition, zipfile.ZIP_DEFLATED), ("Images\\bg.bmp", image, zipfile.ZIP_STORED),
         ("images/Deflated.bmp", image, zipfile.ZIP_DEFLATED)]
write("plain.zip", archive(plain))
write("junk.zip", archive(plain) + b"junk after the archive")
write("nodef.zip", archive(plain[1:]))
write("traversal.zip", archive(plain + [("../evil.txt", b"x", zipfile.ZIP_STORED)]))
write("absolute.zip", archive(plain + [("/etc/evil", b"x", zipfile.ZIP_STORED)]))


class Unseekable(io.RawIOBase):
    """A stream zipfile cannot seek in: it writes data descriptors after each entry."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


u = Unseekable()
with zipfile.ZipFile(u, "w") as z:
    for name, data, method in plain:
        with z.open(zipfile.ZipInfo(name), "w") as f:
            f.write(data)
write("descriptor.zip", bytes(u.data))
assert struct.unpack("<H", u.data[6:8])[0] & 8, "the first entry has a data descriptor"

buf = io.BytesIO()
with zipfile.ZipFile(buf, "w", allowZip64=True) as z:
    for name, data, method in plain:
        with z.open(zipfile.ZipInfo(name), "w", force_zip64=True) as f:
            f.write(data)
write("zip64.zip", buf.getvalue())


def patch_sizes(data, name, size=None, crc=None):
    """Rewrites the uncompressed size or the CRC of entry name in its local header and in the
    central directory."""
    data = bytearray(data)
    enc = name.encode()
    for sig, crc_at, size_at, name_at in ((b"PK\x03\x04", 14, 22, 30), (b"PK\x01\x02", 16, 24, 46)):
        at = 0
        while (at := data.find(sig, at)) >= 0:
            if data[at + name_at:at + name_at + len(enc)] == enc:
                if size is not None:
                    data[at + size_at:at + size_at + 4] = struct.pack("<I", size)
                if crc is not None:
                    data[at + crc_at:at + crc_at + 4] = struct.pack("<I", crc)
            at += 4
    return bytes(data)


good = archive(plain)
write("liar_small.zip", patch_sizes(good, "images/Deflated.bmp", size=100))
write("liar_big.zip", patch_sizes(good, "images/Deflated.bmp", size=len(image) + 500))
write("badcrc_deflated.zip", patch_sizes(good, "images/Deflated.bmp", crc=zlib.crc32(b"other")))
write("badcrc_stored.zip", patch_sizes(good, "Images\\bg.bmp", crc=zlib.crc32(b"other")))
write("huge.zip", patch_sizes(good, "images/Deflated.bmp", size=65 << 20))
write("truncated.zip", good[: len(good) // 2])
# Junk in front moves every offset the directory gives: not an archive this reader takes.
write("prefixed.zip", b"junk before" + good)
