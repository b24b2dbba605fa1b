#!/usr/bin/env python3
"""Writes the placeholder FPGA image: a raw Spartan-6 XC6SLX9 bitstream that a
serial configuration port frames correctly, padded to the instrument's image
length. It configures blank frames, so it cannot bring up a real instrument;
build with -DZEF_FPGA_IMAGE=<the instrument's gateware> for that.

Usage: make_placeholder_image.py OUTPUT

The stream, as 16-bit words sent most significant byte first:

    FFFF x 8                  16 bytes of 0xFF (bus width detection)
    AA99 5566                 sync word
    31C2 0400 1093            type-1 write IDCODE, 2 words: 0x04001093 (XC6SLX9)
    2000 2000                 NOOP x 2
    30A1 0007                 type-1 write CMD, 1 word: RCRC (reset CRC)
    2000                      NOOP
    30A1 0001                 type-1 write CMD: WCFG (write configuration)
    2000                      NOOP
    3021 0000                 type-1 write FAR_MAJ, 1 word: 0
    3041 0000                 type-1 write FAR_MIN, 1 word: 0
    5060 HHHH LLLL            type-2 write FDRI, 32-bit word count N (high, low)
    0000 x N                  frame data (blank frames)
    2000                      NOOP
    30A1 0005                 type-1 write CMD: START (start-up sequence)
    2000                      NOOP
    30A1 000D                 type-1 write CMD: DESYNC
    2000 x 16                 NOOP padding

N = 167,797, which makes the image exactly 335,694 bytes.

Packet headers (16 bits):
    type 1: [15:13] = 001, [12:11] opcode (00 NOOP, 01 read, 10 write),
            [10:5] register address, [4:0] word count
    type 2: [15:13] = 010, [12:11] opcode, [10:5] register address,
            [4:0] zero; followed by a 32-bit word count as two 16-bit words
Registers: FAR_MAJ 0x01, FAR_MIN 0x02, FDRI 0x03, CMD 0x05, IDCODE 0x0E.
Commands:  WCFG 0x1, START 0x5, RCRC 0x7, DESYNC 0xD.
The stream writes no CRC register, so the device checks no CRC.
"""

import struct
import sys

IMAGE_LENGTH = 335_694
IDCODE_XC6SLX9 = 0x04001093

REG_FAR_MAJ = 0x01
REG_FAR_MIN = 0x02
REG_FDRI = 0x03
REG_CMD = 0x05
REG_IDCODE = 0x0E

CMD_WCFG = 0x1
CMD_START = 0x5
CMD_RCRC = 0x7
CMD_DESYNC = 0xD

OP_WRITE = 0b10
NOOP = 0x2000
TRAILING_NOOPS = 16


def type1_write(register, words):
    return [(0b001 << 13) | (OP_WRITE << 11) | (register << 5) | len(words)] + words


def type2_write_header(register, count):
    return [(0b010 << 13) | (OP_WRITE << 11) | (register << 5), count >> 16, count & 0xFFFF]


def command(code):
    return type1_write(REG_CMD, [code])


def build():
    head = [0xFFFF] * 8 + [0xAA99, 0x5566]
    head += type1_write(REG_IDCODE, [IDCODE_XC6SLX9 >> 16, IDCODE_XC6SLX9 & 0xFFFF])
    head += [NOOP, NOOP]
    head += command(CMD_RCRC) + [NOOP]
    head += command(CMD_WCFG) + [NOOP]
    head += type1_write(REG_FAR_MAJ, [0]) + type1_write(REG_FAR_MIN, [0])
    tail = [NOOP] + command(CMD_START) + [NOOP] + command(CMD_DESYNC)
    tail += [NOOP] * TRAILING_NOOPS

    total_words = IMAGE_LENGTH // 2
    frame_words = total_words - len(head) - 3 - len(tail)
    words = head + type2_write_header(REG_FDRI, frame_words) + [0] * frame_words + tail
    image = struct.pack(f">{len(words)}H", *words)
    assert len(image) == IMAGE_LENGTH, len(image)
    return image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_placeholder_image.py OUTPUT")
    image = build()
    with open(sys.argv[1], "wb") as out:
        out.write(image)


if __name__ == "__main__":
    main()
