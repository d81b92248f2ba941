#!/usr/bin/env python3
"""Writes the seed corpus of the frame receiver's fuzzer: valid response frames in the
states that accept them. The fuzz input keeps its stream bytes at the front and its
integers at the end, read backwards (FuzzedDataProvider), so a seed is
frames + reversed(integers, each high byte first)."""
import os

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "frame_receiver")

IDLE, CONNECT, WRITE, VERIFY_START, VERIFY, ENABLE, CRYPT, CANCEL = range(8)


def frame(command, payload=b""):
    body = bytes([len(payload), 0x4D, command]) + payload
    fcs = 0
    for b in body:
        fcs ^= b
    return b"\xFE" + body + bytes([fcs])


def integers(*sized):
    seq = b""
    for value, width in sized:
        seq += value.to_bytes(width, "big")
    return seq[::-1]


# The answer the worker waits for, as the fuzzer's index into its table of kinds.
NONE, AWAIT_WRITE, AWAIT_READ, AWAIT_ENABLE, AWAIT_HANDSHAKE, AWAIT_CRYPT = range(6)


def seed(name, stream, state, awaited, address=0, packet=0, image_words=32, fill=0xFF,
         flags=0x0F):
    # Header: image words, fill, flags (1 skip reset vector, 2 event, 4 file, 8 trace);
    # one chunk: state, address, packet index, awaited answer, step 1 (byte-wise), chunk
    # length - 1.
    tail = integers((image_words, 2), (fill, 1), (flags, 1), (state, 1), (address, 2),
                    (packet, 2), (awaited, 1), (1, 1), (len(stream) - 1, 1))
    with open(os.path.join(HERE, "seed-" + name), "wb") as out:
        out.write(stream + tail)


def read_response(status, address, data):
    return frame(0x82, bytes([status, address & 0xFF, address >> 8]) + data)


os.makedirs(HERE, exist_ok=True)
seed("handshake", frame(0x84), CONNECT, AWAIT_HANDSHAKE)
seed("write-ack", frame(0x81, b"\x00"), WRITE, AWAIT_WRITE)
seed("verify-block1", read_response(0, 16, b"\xFF" * 64), VERIFY, AWAIT_READ, address=16,
     packet=1)
seed("crypt-block", frame(0xA0, b"\x00") + read_response(0, 0x20, bytes(range(64))), CRYPT,
     AWAIT_READ, address=0x20)
seed("crypt-end", read_response(1, 0, b"\x00" * 64), CRYPT, AWAIT_READ)
seed("enable", b"\x00\x13" + frame(0x83), ENABLE, AWAIT_ENABLE)
seed("payload-127", frame(0x90, bytes(i % 0xF0 for i in range(127))), IDLE, NONE)
