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

# A skin whose definition exercises the queries: found and missing elements, defaults, odd values.
skin_definition = b"""<?xml version="1.0" encoding="UTF-8"?>
<SkinRes>
  <PLAYERFORM Image="Images/main.bmp" SeperateX="40" SeperateY="x" color="#102030">
    <play image="Images/play.bmp" position="10, 20, 40, 50"/>
    <stop image="Images/none.bmp" position="1,2,3,4"/>
    <volume position="1, 2, 3" vertical="FALSE" thumb_image="Images/play.bmp" FulFill="1"/>
    <progress position="" fill_image="Images/none.bmp"/>
    <PlayInfo position="5,6,7,8" fontcolor="00FF00" FontName="Sans" FontSize="11" AlignLeft="0"/>
    <playlist TextColor="#FFFFFF" HighlightColor="" NumberColor="123"/>
  </PLAYERFORM>
  <miniForm Image="Images/mini.bmp"/>
  <lyricForm><Close image="Images/play.bmp" position="7"/></lyricForm>
</SkinRes>
"""
write("skin.zip", archive([("SkinResDef.xml", skin_definition, zipfile.ZIP_DEFLATED),
                           ("Images/main.bmp", b"main", zipfile.ZIP_STORED),
                           ("Images/play.bmp", b"play", zipfile.ZIP_STORED),
                           ("Preview.jpg", b"preview", zipfile.ZIP_STORED)]))
write("notxml.zip", archive([("SkinResDef.xml", b"<SkinRes><unclosed></SkinRes>", zipfile.ZIP_STORED)]))
