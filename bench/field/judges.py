"""The recordings of the field benchmark and the decoders that judge them.

Each source is made once by a real encoder and judged by its own decoder,
all of them Debian packages:

- tape: Spectrum tape blocks rendered by tape2wav, decoded by audio2tape; a
  block counts when it comes back byte for byte;
- bell202: 1200-baud FSK text from minimodem, decoded by minimodem; a line
  counts when it appears whole;
- ax300, ax1200, ax9600: AX.25 packets from direwolf's gen_packets (300 and
  1200 bit/s AFSK, 9600 bit/s scrambled baseband), decoded by atest; a
  packet counts when its text comes back whole.

A judge reads a WAV file of any rate and channel count and returns how many
items it decoded right.
"""
import os
import random
import re
import struct
import subprocess
import wave

import numpy as np

LEAD_IN = 0.3  # seconds of silence before the signal starts
PAD = 0.5      # silence put before every decoded file (audio2tape drops a
               # first block whose pilot starts the file)
TONE = 0.1     # a tone after every decoded tape file: audio2tape ends its
               # last block only at a later edge


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


# ---------------------------------------------------------------- wav files

def read_wav(path):
    """(samples as float in [-1, 1), shape frames x channels; rate)."""
    with wave.open(path) as w:
        n, rate, ch, width = w.getnframes(), w.getframerate(), w.getnchannels(), w.getsampwidth()
        data = w.readframes(n)
    if width == 1:
        x = (np.frombuffer(data, np.uint8).astype(np.float64) - 128) / 128
    else:
        x = np.frombuffer(data, "<i2").astype(np.float64) / 32768
    return x.reshape(-1, ch), rate


def write_wav(path, x, rate):
    """16-bit PCM, clipped to the sample range (as a sound card clips)."""
    x = np.asarray(x, np.float64)
    if x.ndim == 1:
        x = x[:, None]
    pcm = np.clip(np.round(x * 32768), -32768, 32767).astype("<i2")
    with wave.open(path, "wb") as w:
        w.setnchannels(x.shape[1])
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(pcm.tobytes())


def padded(path, out, tone):
    """The file with PAD of silence before it and, for tape, TONE after it."""
    x, rate = read_wav(path)
    after = np.zeros((int(PAD * rate), x.shape[1]))
    if tone:
        t = np.arange(int(TONE * rate)) / rate
        after = np.repeat((0.5 * np.sign(np.sin(2 * np.pi * 1000 * t)))[:, None], x.shape[1], 1)
    write_wav(out, np.concatenate([np.zeros((int(PAD * rate), x.shape[1])), x, after]), rate)


# ---------------------------------------------------------------- tape

def tap_block(flag, data):
    body = bytes([flag]) + data
    check = 0
    for b in body:
        check ^= b
    return body + bytes([check])


def tape_blocks():
    """The blocks of the tape, each as flag + data + checksum."""
    rnd = random.Random(1982)
    code = bytes(rnd.randrange(256) for _ in range(192))
    more = bytes(rnd.randrange(256) for _ in range(384))
    header = bytes([3]) + b"FIELD     " + struct.pack("<HHH", len(code), 32768, 0)
    return [tap_block(0, header), tap_block(255, code), tap_block(255, more)]


def make_tape(work):
    tap = os.path.join(work, "tape.tap")
    with open(tap, "wb") as f:
        for b in tape_blocks():
            f.write(struct.pack("<H", len(b)) + b)
    raw = os.path.join(work, "tape-bare.wav")
    run(["tape2wav", "-r", "44100", tap, raw])
    return raw


def tzx_blocks(path):
    """Data blocks of a .tzx (standard, turbo and pure data), as bytes."""
    blocks = []
    with open(path, "rb") as f:
        d = f.read()
    if not d.startswith(b"ZXTape!\x1a"):
        return blocks
    i = 10
    skip = {0x12: 4, 0x20: 2, 0x22: 0, 0x24: 2, 0x25: 0, 0x2A: 4, 0x5A: 9}
    try:
        while i < len(d):
            bid = d[i]
            i += 1
            if bid == 0x10:
                n = struct.unpack_from("<H", d, i + 2)[0]
                blocks.append(d[i + 4:i + 4 + n])
                i += 4 + n
            elif bid == 0x11:
                n = int.from_bytes(d[i + 15:i + 18], "little")
                blocks.append(d[i + 18:i + 18 + n])
                i += 18 + n
            elif bid == 0x14:
                n = int.from_bytes(d[i + 7:i + 10], "little")
                blocks.append(d[i + 10:i + 10 + n])
                i += 10 + n
            elif bid == 0x13:
                i += 1 + 2 * d[i]
            elif bid == 0x15:
                i += 8 + int.from_bytes(d[i + 5:i + 8], "little")
            elif bid in (0x21, 0x30):
                i += 1 + d[i]
            elif bid == 0x31:
                i += 2 + d[i + 1]
            elif bid == 0x32:
                i += 2 + struct.unpack_from("<H", d, i)[0]
            elif bid == 0x35:
                i += 20 + struct.unpack_from("<I", d, i + 16)[0]
            elif bid in skip:
                i += skip[bid]
            else:
                break  # unknown block: stop rather than misread
    except struct.error:
        pass
    return blocks


def judge_tape(path):
    pad, tzx = path + ".pad.wav", path + ".tzx"
    padded(path, pad, tone=True)
    subprocess.run(["audio2tape", pad, tzx], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    got = tzx_blocks(tzx) if os.path.exists(tzx) else []
    for p in (pad, tzx):
        if os.path.exists(p):
            os.remove(p)
    score = 0
    for b in tape_blocks():
        if b in got:
            got.remove(b)
            score += 1
    return score


# ---------------------------------------------------------------- Bell 202

def bell_lines():
    rnd = random.Random(1200)
    alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 "
    return ["%02d " % i + "".join(rnd.choice(alphabet) for _ in range(36)) for i in range(10)]


def make_bell(work):
    raw = os.path.join(work, "bell-bare.wav")
    text = "\n".join(bell_lines()) + "\n"
    run(["minimodem", "--tx", "1200", "-R", "44100", "-f", raw], input=text.encode())
    return raw


def judge_bell(path):
    pad = path + ".pad.wav"
    padded(path, pad, tone=False)
    r = subprocess.run(["minimodem", "--rx", "1200", "-q", "-f", pad],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    os.remove(pad)
    got = r.stdout.decode("latin-1")
    return sum(1 for line in bell_lines() if line + "\n" in got)


# ---------------------------------------------------------------- AX.25

AX_PACKETS = {300: 5, 1200: 10, 9600: 20}
AX_RATE = {300: 44100, 1200: 44100, 9600: 48000}
AX_TEXT = "abcdefghijklmnopqrstuvwxyz0123456789"


def ax_message(i):
    return "N0CALL-%d>APRS,WIDE1-1:>field packet %d %s" % (i % 16, i, AX_TEXT)


def make_ax(work, baud):
    msgs = os.path.join(work, "ax%d.txt" % baud)
    with open(msgs, "w") as f:
        for i in range(1, AX_PACKETS[baud] + 1):
            f.write(ax_message(i) + "\n")
    raw = os.path.join(work, "ax%d-bare.wav" % baud)
    run(["gen_packets", "-B", str(baud), "-r", str(AX_RATE[baud]), "-o", raw, msgs])
    return raw


def judge_ax(path, baud):
    r = subprocess.run(["atest", "-B", str(baud), path], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL)
    got = r.stdout.decode("latin-1")
    found = set(int(m) for m in re.findall(r"field packet (\d+) " + AX_TEXT, got))
    return len(found & set(range(1, AX_PACKETS[baud] + 1)))


# ---------------------------------------------------------------- table

# name: (judge, items, maker, highest frequency the signal needs in Hz, judge name)
SOURCES = {
    "tape": (judge_tape, len(tape_blocks()), make_tape, 2100, "tape"),
    "bell202": (judge_bell, len(bell_lines()), make_bell, 2200, "bell202"),
    "ax300": (lambda p: judge_ax(p, 300), AX_PACKETS[300], lambda w: make_ax(w, 300), 1800,
              "ax25"),
    "ax1200": (lambda p: judge_ax(p, 1200), AX_PACKETS[1200], lambda w: make_ax(w, 1200), 2200,
               "ax25"),
    "ax9600": (lambda p: judge_ax(p, 9600), AX_PACKETS[9600], lambda w: make_ax(w, 9600), 4800,
               "ax25"),
}


def judge(source, path):
    return SOURCES[source][0](path)


def items(source):
    return SOURCES[source][1]


def top_frequency(source):
    return SOURCES[source][3]


def judge_name(source):
    return SOURCES[source][4]


def make_sources(work):
    """source name -> path of its clean recording: 16-bit, peak 0.8, lead-in."""
    paths = {}
    for name, (_, _, make, _, _) in SOURCES.items():
        x, rate = read_wav(make(work))
        x = x[:, :1]
        x = 0.8 * x / max(1e-9, np.max(np.abs(x)))
        tail = np.zeros((int(LEAD_IN * rate), 1))
        path = os.path.join(work, name + ".wav")
        write_wav(path, np.concatenate([tail, x, tail]), rate)
        paths[name] = path
    return paths
