#!/usr/bin/env python3
"""Inserts the decoder's private user-data SEI message (payload type 0xF0) into
an Annex B H.264 stream, in front of chosen pictures.

Usage: insert_private_sei.py IN.264 OUT.264 PICTURE:LENGTH [PICTURE:LENGTH ...]

PICTURE counts pictures from 0 in decoding order (a slice with
first_mb_in_slice 0 starts one); LENGTH is the payload size (1..254). The
payload bytes are 1, 2, 3, ... wrapping before 0, so no emulation prevention
is needed and the bytes a decoder keeps can be checked by position.
"""
import sys


def split_units(data):
    """Offsets of the start codes (3 or 4 bytes) that open NAL units."""
    starts = []
    i = 0
    while True:
        i = data.find(b"\x00\x00\x01", i)
        if i < 0:
            break
        starts.append(i - 1 if i > 0 and data[i - 1] == 0 else i)
        i += 3
    return starts


def user_data_unit(length):
    payload = bytes(1 + (k % 250) for k in range(length))
    return b"\x00\x00\x00\x01\x06\xF0" + bytes([length]) + payload + b"\x80"


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    with open(argv[1], "rb") as f:
        data = f.read()
    wanted = {}
    for item in argv[3:]:
        picture, length = (int(v) for v in item.split(":"))
        if not 1 <= length <= 254:
            sys.exit("LENGTH must be 1..254")
        wanted[picture] = length
    starts = split_units(data) + [len(data)]
    out = bytearray(data[: starts[0]])
    picture = -1
    for begin, end in zip(starts, starts[1:]):
        unit = data[begin:end]
        header = unit.index(b"\x00\x00\x01") + 3
        nal_type = unit[header] & 0x1F
        first_mb_zero = nal_type in (1, 5) and len(unit) > header + 1 and unit[header + 1] & 0x80
        if first_mb_zero:
            picture += 1
            if picture in wanted:
                out += user_data_unit(wanted[picture])
        out += unit
    with open(argv[2], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv)
