#!/usr/bin/env python3
"""Reads pulseregen's outputs with Python's own wave module, a reader that
shares nothing with CWave.

Usage: read_outputs.py PULSEREGEN EXAMPLE.wav WORKDIR

Runs the program on the example recording and on inputs built here byte by
byte, then checks that each output opens as 44,100 Hz, one channel, 2-byte
samples, that the frame count the reader reports equals (file size - 44) / 2
and that both header sizes match the file. For the built inputs the frame
count must also be the active span plus the fade block.

In a cross build the program runs through the emulator whose command words
PULSE_TEST_EMULATOR holds, separated by '|' (empty or unset natively).
"""
import math
import os
import struct
import subprocess
import sys
import wave

BLOCK = 10240


def riff(channels, rate, frames_bytes, declared=None, fmt_extra=b"", before_data=b""):
    """A 16-bit PCM WAV file: format chunk (with extra bytes), optional chunks
    before the data chunk, the data chunk declaring `declared` bytes."""
    declared = len(frames_bytes) if declared is None else declared
    fmt = struct.pack("<hHIIHH", 1, channels, rate, rate * 2 * channels, 2 * channels, 16)
    fmt += fmt_extra
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + before_data
    body += b"data" + struct.pack("<I", declared) + frames_bytes
    return b"RIFF" + struct.pack("<I", len(body)) + body


def samples(frames, channels, loud):
    """A quiet sine with 30,000-amplitude stretches; `loud` lists (from, to)
    frame ranges. Any further channel stays silent."""
    out = bytearray()
    for i in range(frames):
        amp = 30000 if any(a <= i < b for a, b in loud) else 500
        v = int(amp * math.sin(i * 0.05))
        out += struct.pack("<h", v)
        out += b"\0\0" * (channels - 1)
    return bytes(out)


def cases():
    """(name, input bytes, output frames expected, or None for any)."""
    yield "mono_span_1_to_3", riff(1, 44100, samples(4 * BLOCK, 1, [(BLOCK + 10, BLOCK + 900),
                                                                     (3 * BLOCK, 3 * BLOCK + 500)])), 4 * BLOCK
    # Left channel loud, right silent: the mix still passes 10,000.
    yield "stereo_48k", riff(2, 48000, samples(3 * BLOCK, 2, [(2 * BLOCK, 2 * BLOCK + 400)])), 2 * BLOCK
    yield "fmt18_and_list", riff(1, 22050, samples(2 * BLOCK, 1, [(BLOCK + 5, BLOCK + 300)]),
                                 fmt_extra=b"\0\0",
                                 before_data=b"LIST" + struct.pack("<I", 4) + b"INFO"), 2 * BLOCK
    yield "one_frame_short_of_a_block", riff(1, 44100, samples(BLOCK - 1, 1, [(0, BLOCK)])), BLOCK
    # The length is what the file holds: two whole blocks, the part block unread.
    yield "declares_more_than_it_holds", riff(1, 44100, samples(2 * BLOCK + 3000, 1,
                                                                [(BLOCK + 100, BLOCK + 900),
                                                                 (2 * BLOCK + 100, 2 * BLOCK + 900)]),
                                              declared=5 * BLOCK * 2), 2 * BLOCK


def check_output(path, expect_frames):
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        head = f.read(44)
    errors = []
    riff_size, = struct.unpack_from("<I", head, 4)
    data_size, = struct.unpack_from("<I", head, 40)
    if riff_size != size - 8:
        errors.append(f"RIFF size {riff_size}, file holds {size - 8}")
    if data_size != size - 44:
        errors.append(f"data size {data_size}, file holds {size - 44}")
    with wave.open(path, "rb") as w:
        if w.getframerate() != 44100:
            errors.append(f"rate {w.getframerate()}")
        if w.getnchannels() != 1:
            errors.append(f"channels {w.getnchannels()}")
        if w.getsampwidth() != 2:
            errors.append(f"sample width {w.getsampwidth()}")
        frames = w.getnframes()
        if (size - 44) % 2 or frames != (size - 44) // 2:
            errors.append(f"{frames} frames declared, {size - 44} data bytes present")
        if len(w.readframes(frames + 1)) != size - 44:
            errors.append("frames read differ from the bytes present")
        if expect_frames is not None and frames != expect_frames:
            errors.append(f"{frames} frames, expected {expect_frames}")
        if frames % BLOCK or frames == 0:
            errors.append(f"{frames} frames is not a whole number of blocks")
    return errors


def emulator():
    """The emulator's command words, none for a native build."""
    return [w for w in os.environ.get("PULSE_TEST_EMULATOR", "").split("|") if w]


def main():
    tool, example, workdir = sys.argv[1:4]
    prefix = emulator()
    os.makedirs(workdir, exist_ok=True)
    runs = [("example", example, None)]
    for name, data, expect in cases():
        path = os.path.join(workdir, name + ".wav")
        with open(path, "wb") as f:
            f.write(data)
        runs.append((name, path, expect))

    failed = False
    for name, src, expect in runs:
        out = os.path.join(workdir, name + "-out.wav")
        if os.path.exists(out):
            os.remove(out)
        run = subprocess.run(prefix + [tool, src, out], stdout=subprocess.DEVNULL, check=False)
        errors = [f"exit status {run.returncode}"] if run.returncode else []
        if not errors:
            errors = check_output(out, expect)
        print(f"{name}: {'ok' if not errors else '; '.join(errors)}")
        failed |= bool(errors)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
