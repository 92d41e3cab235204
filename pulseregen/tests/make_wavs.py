"""Writes a 16-bit PCM WAV file (SOURCE) again in a layout that sox and
ffmpeg do not write: with Python's wave module (24 and 32-bit plain
headers), or byte by byte where no writer at hand makes it (24-bit samples in
the low bytes of 4-byte containers, as ALSA's S24_LE; WAVE_FORMAT_EXTENSIBLE
with 24 valid bits in 32-bit containers).

usage: make_wavs.py KIND SOURCE TARGET"""
import struct
import sys
import wave

GUID_PCM = bytes.fromhex("0100000000001000800000aa00389b71")


def samples(data):
    return struct.unpack("<%dh" % (len(data) // 2), data)


def main(kind, source, target):
    with wave.open(source, "rb") as r:
        channels, rate = r.getnchannels(), r.getframerate()
        values = samples(r.readframes(r.getnframes()))
    if kind in ("pcm24", "pcm32"):
        width = 3 if kind == "pcm24" else 4
        body = b"".join(struct.pack("<i", v << 16)[4 - width:] for v in values)
        with wave.open(target, "wb") as w:
            w.setnchannels(channels)
            w.setsampwidth(width)
            w.setframerate(rate)
            w.writeframes(body)
        return
    if kind == "s24le":  # low three bytes hold the sample, the top one is 0
        body = b"".join(struct.pack("<i", v << 8)[:3] + b"\0" for v in values)
        fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * channels * 4, channels * 4, 24)
    elif kind == "ext24in32":  # the valid bits at the top of the container
        body = b"".join(struct.pack("<i", v << 16) for v in values)
        fmt = struct.pack("<HHIIHHHHI", 0xFFFE, channels, rate, rate * channels * 4,
                          channels * 4, 32, 22, 24, 3) + GUID_PCM
    else:
        sys.exit("unknown kind " + kind)
    chunks = b"fmt " + struct.pack("<I", len(fmt)) + fmt
    chunks += b"data" + struct.pack("<I", len(body)) + body
    with open(target, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + len(chunks)) + b"WAVE" + chunks)


if __name__ == "__main__":
    main(*sys.argv[1:])
