"""A tiny PNG encoder and a name-seeded picture (symmetric block pattern) used for avatars and
demo hero images, so the stand-ins serve real images without an imaging library."""
import hashlib
import struct
import zlib


def encode_png(width: int, height: int, rgb_rows: list[bytes]) -> bytes:
    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\x00" + row for row in rgb_rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + \
        chunk(b"IEND", b"")


def pattern_png(name: str, width: int = 96, height: int = 96, cells: int = 6) -> bytes:
    """A mirrored block pattern whose colours and shape follow from the name."""
    digest = hashlib.sha256(name.encode()).digest()
    fg = (64 + digest[0] % 160, 64 + digest[1] % 160, 64 + digest[2] % 160)
    bg = (23, 26, 33)
    cols = cells
    half = (cols + 1) // 2
    bits = int.from_bytes(digest[3:11], "big")
    rows = []
    for y in range(height):
        cy = y * cells // height
        row = bytearray()
        for x in range(width):
            cx = x * cols // width
            mx = cx if cx < half else cols - 1 - cx
            on = (bits >> (cy * half + mx)) & 1
            row += bytes(fg if on else bg)
        rows.append(bytes(row))
    return encode_png(width, height, rows)
