#!/usr/bin/env python3
"""The field benchmark: pulseregen judged by real decoders.

Builds Spectrum-style tape data (a .tap of blocks: 2-byte little-endian
length, flag, data, XOR checksum) and renders it with tape2wav, and 1200-baud
FSK text with minimodem; degrades each recording with sox the way tape decks
and sound cards do; runs pulseregen on it with each variant's options; then
decodes the raw recording and every output (tape with audio2tape, FSK with
minimodem) and compares the decoded BYTES with the originals. A tape block
counts when it is decoded byte for byte; an FSK line when it appears whole.

usage: field.py --bin PULSEREGEN [--work DIR] [--jobs N] [--only REGEX]
                [--smoke] [--variants a,b,...]

Prints one table of cases x variants (score = blocks or lines decoded right,
out of the total) and, for each variant, how many cases it decodes worse,
the same and better than the raw recording. With --smoke it runs a few
cases only and exits 1 when --auto decodes worse than raw in any of them.
"""
import argparse
import concurrent.futures
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import wave

RATE = 44100
LEAD_IN = 0.3   # seconds of silence before the tape starts playing
PAD = 0.5       # silence before every decoded file (audio2tape drops a first
                # block whose pilot starts the file)
TONE = 0.1      # a tone after every decoded tape file: audio2tape ends its
                # last block only at a later edge
NOISE_DRAWS = 3

VARIANTS = {
    "raw": None,
    "default": [],
    "30%/25%": ["--active=30%", "--switch=25%"],
    "auto": ["--auto"],
}


def run(cmd, **kw):
    # sox dithers whatever it writes at 16 bits, from a fresh random draw:
    # no dither, and repeatable noise, so that every run scores the same.
    if cmd[0] == "sox":
        cmd = ["sox", "-D", "-R"] + cmd[1:]
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, **kw)


# ---------------------------------------------------------------- sources

def tap_block(flag, data):
    body = bytes([flag]) + data
    check = 0
    for b in body:
        check ^= b
    body += bytes([check])
    return struct.pack("<H", len(body)) + body


def tape_blocks():
    """The blocks of the tape, each as flag + data + checksum."""
    rnd = random.Random(1982)
    code = bytes(rnd.randrange(256) for _ in range(192))
    more = bytes(rnd.randrange(256) for _ in range(384))
    header = bytes([3]) + b"FIELD     " + struct.pack("<HHH", len(code), 32768, 0)
    return [tap_block(0, header)[2:], tap_block(255, code)[2:], tap_block(255, more)[2:]]


def fsk_lines():
    rnd = random.Random(1200)
    alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 "
    return ["%02d " % i + "".join(rnd.choice(alphabet) for _ in range(36)) for i in range(10)]


def make_sources(work):
    tap = os.path.join(work, "tape.tap")
    with open(tap, "wb") as f:
        for b in tape_blocks():
            f.write(struct.pack("<H", len(b)) + b)
    run(["tape2wav", "-r", str(RATE), tap, os.path.join(work, "tape8.wav")])
    # 16-bit, a little under full scale, after the recorder's lead-in.
    run(["sox", os.path.join(work, "tape8.wav"), "-b", "16", os.path.join(work, "tape.wav"),
         "vol", "0.8", "pad", str(LEAD_IN), "0"])
    text = "\n".join(fsk_lines()) + "\n"
    fsk = os.path.join(work, "fsk-bare.wav")
    run(["minimodem", "--tx", "1200", "-R", str(RATE), "-f", fsk], input=text.encode())
    run(["sox", fsk, "-b", "16", os.path.join(work, "fsk.wav"), "vol", "0.8",
         "pad", str(LEAD_IN), "0.5"])


def frames_of(path):
    with wave.open(path) as w:
        return w.getnframes(), w.getframerate(), w.getnchannels()


def last_edge(path):
    """The frame after the last change of the recording's value."""
    with wave.open(path) as w:
        n = w.getnframes()
        data = w.readframes(n)
    samples = struct.unpack("<%dh" % n, data)
    last = samples[-1]
    for i in range(n - 1, -1, -1):
        if abs(samples[i] - last) > 1000:
            return i + 1
    return n


# ---------------------------------------------------------------- cases

class Case:
    def __init__(self, name, source, effects=(), noise=None, layout="mono", end20=False,
                 draw=None, speed=0):
        self.name = name
        self.source = source          # "tape" or "fsk"
        self.effects = list(effects)  # sox effects on the mono recording
        if speed:                     # +1 faster, -1 slower, by the source's SPEED
            self.effects += ["speed", "%.3f" % (1 + speed * SPEED[source])]
        self.noise = noise            # ("whitenoise" | "pinknoise", amplitude)
        self.layout = layout          # mono, left (right silent), antiphase
        self.end20 = end20            # the recording ends 20 ms after the data
        self.draw = draw


QUIET = ["vol", "0.25"]          # peak about 6,500
FAINT = ["vol", "0.05"]          # peak about 1,300
WHITE = ("whitenoise", 0.12)
WHITE_HEAVY = ("whitenoise", 0.3)
PINK = ("pinknoise", 0.2)
PINK_HEAVY = ("pinknoise", 0.45)
DROOP = ["highpass", "-1", "400"]
DROOP_HARD = ["highpass", "-1", "1500"]
LOWPASS = ["lowpass", "-1", "4000"]
LOWPASS_HARD = ["lowpass", "-1", "2500"]
DC = ["vol", "0.5", "dcshift", "0.3"]
INVERT = ["vol", "-1"]
# Speed errors of a tape deck: 3 % for tape data. FSK is run 1.5 % off:
# from 2 % on minimodem misreads any square wave in its tones, even one cut
# perfectly at the raw recording's zero crossings, while it still reads the
# raw sine; such a case would measure the decoder, not the regeneration.
SPEED = {"tape": 0.03, "fsk": 0.015}
R22 = ["rate", "22050"]
R48 = ["rate", "48000"]


def case_list():
    singles = [
        ("clean", {}),
        ("quiet", {"effects": QUIET}),
        ("faint", {"effects": FAINT}),
        ("white", {"noise": WHITE}),
        ("white-heavy", {"noise": WHITE_HEAVY}),
        ("pink", {"noise": PINK}),
        ("pink-heavy", {"noise": PINK_HEAVY}),
        ("droop", {"effects": DROOP}),
        ("droop-hard", {"effects": DROOP_HARD}),
        ("lowpass", {"effects": LOWPASS}),
        ("lowpass-hard", {"effects": LOWPASS_HARD}),
        ("dc", {"effects": DC}),
        ("invert", {"effects": INVERT}),
        ("fast", {"speed": 1}),
        ("slow", {"speed": -1}),
        ("one-channel", {"layout": "left"}),
        ("antiphase", {"layout": "antiphase"}),
        ("22k", {"effects": R22}),
        ("48k", {"effects": R48}),
        ("end20ms", {"end20": True}),
    ]
    pairs = [
        ("quiet+white", {"effects": QUIET, "noise": ("whitenoise", 0.03)}),
        ("quiet+pink", {"effects": QUIET, "noise": ("pinknoise", 0.05)}),
        ("quiet+dc", {"effects": ["vol", "0.25", "dcshift", "0.25"]}),
        ("faint+end20ms", {"effects": FAINT, "end20": True}),
        ("dc+pink", {"effects": DC, "noise": PINK}),
        ("droop+white", {"effects": DROOP, "noise": WHITE}),
        ("lowpass+white", {"effects": LOWPASS, "noise": WHITE}),
        ("lowpass+droop", {"effects": LOWPASS + DROOP}),
        ("invert+droop", {"effects": INVERT + DROOP}),
        ("antiphase+white", {"layout": "antiphase", "noise": WHITE}),
        ("one-channel+pink", {"layout": "left", "noise": PINK}),
        ("22k+white", {"effects": R22, "noise": WHITE}),
        ("48k+quiet", {"effects": R48 + QUIET}),
        ("fast+pink", {"speed": 1, "noise": PINK}),
        ("end20ms+white", {"end20": True, "noise": WHITE}),
    ]
    cases = []
    for source in ("tape", "fsk"):
        for name, kw in singles + pairs:
            draws = range(NOISE_DRAWS) if "noise" in kw else [None]
            for d in draws:
                label = "%s %s" % (source, name) + ("" if d is None else " #%d" % (d + 1))
                cases.append(Case(label, source, draw=d, **kw))
    return cases


SMOKE = ["tape faint", "tape dc", "tape antiphase", "tape end20ms", "fsk 48k",
         "tape pink #1"]


# ---------------------------------------------------------------- degrading

def degrade(case, work, out):
    src = os.path.join(work, case.source + ".wav")
    tmp = out + ".tmp"
    os.makedirs(tmp, exist_ok=True)
    cur = src
    if case.end20:
        end = last_edge(src) + int(0.020 * RATE)
        cur = os.path.join(tmp, "cut.wav")
        run(["sox", src, cur, "trim", "0", "%ds" % end])
    if case.effects:
        nxt = os.path.join(tmp, "fx.wav")
        run(["sox", cur, "-b", "16", nxt] + case.effects)
        cur = nxt
    if case.noise:
        kind, amplitude = case.noise
        n, rate, _ = frames_of(cur)
        # Repeatable draws: one long noise with a fixed seed, cut at an offset.
        noise = os.path.join(tmp, "noise.wav")
        run(["sox", "-n", "-r", str(rate), "-c", "1", "-b", "16", noise, "synth",
             "%ds" % (n * NOISE_DRAWS), kind, "vol", str(amplitude),
             "trim", "%ds" % (n * case.draw), "%ds" % n])
        nxt = os.path.join(tmp, "noisy.wav")
        run(["sox", "-m", "-v", "1", cur, "-v", "1", noise, "-b", "16", nxt])
        cur = nxt
    if case.layout == "left":
        run(["sox", cur, out, "remix", "1", "0"])
    elif case.layout == "antiphase":
        run(["sox", cur, out, "remix", "1", "1i"])
    else:
        shutil.copyfile(cur, out)
    shutil.rmtree(tmp)


# ---------------------------------------------------------------- decoding

def padded(path, out, source):
    _, rate, channels = frames_of(path)
    fmt = ["-r", str(rate), "-c", str(channels), "-b", "16"]
    before = out + ".pre.wav"
    after = out + ".post.wav"
    run(["sox", "-n"] + fmt + [before, "trim", "0", str(PAD)])
    if source == "tape":
        run(["sox", "-n"] + fmt + [after, "synth", str(TONE), "square", "1000", "vol", "0.5"])
    else:
        run(["sox", "-n"] + fmt + [after, "trim", "0", str(PAD)])
    run(["sox", before, path, after, out])
    os.remove(before)
    os.remove(after)


def tzx_blocks(path):
    """Data blocks of a .tzx (standard, turbo and pure data), as bytes."""
    blocks = []
    with open(path, "rb") as f:
        d = f.read()
    if not d.startswith(b"ZXTape!\x1a"):
        return blocks
    i = 10
    fixed = {0x12: 4, 0x20: 2, 0x21: None, 0x22: 0, 0x24: 2, 0x25: 0, 0x2A: 4, 0x30: None,
             0x31: None, 0x32: None, 0x35: None, 0x5A: 9}
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
        elif bid in (0x31,):
            i += 2 + d[i + 1]
        elif bid in (0x32,):
            i += 2 + struct.unpack_from("<H", d, i)[0]
        elif bid == 0x35:
            i += 20 + struct.unpack_from("<I", d, i + 16)[0]
        elif bid in fixed and fixed[bid] is not None:
            i += fixed[bid]
        else:
            break  # unknown block: stop rather than misread
    return blocks


def score_tape(path, work):
    pad = path + ".pad.wav"
    tzx = path + ".tzx"
    padded(path, pad, "tape")
    subprocess.run(["audio2tape", pad, tzx], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    got = tzx_blocks(tzx) if os.path.exists(tzx) else []
    for p in (pad, tzx):
        if os.path.exists(p):
            os.remove(p)
    left = list(got)
    score = 0
    for b in tape_blocks():
        if b in left:
            left.remove(b)
            score += 1
    return score


def score_fsk(path, work):
    pad = path + ".pad.wav"
    padded(path, pad, "fsk")
    r = subprocess.run(["minimodem", "--rx", "1200", "-q", "-f", pad],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    os.remove(pad)
    # The carrier's start may decode as a stray byte before the first line:
    # a line counts when its bytes and its newline appear in the output.
    got = r.stdout.decode("latin-1")
    return sum(1 for line in fsk_lines() if line + "\n" in got)


def total(source):
    return len(tape_blocks()) if source == "tape" else len(fsk_lines())


# ---------------------------------------------------------------- running

def run_case(case, work, binary, variants):
    slug = re.sub(r"[^A-Za-z0-9]+", "-", case.name).strip("-")
    d = os.path.join(work, "cases", slug)
    os.makedirs(d, exist_ok=True)
    rec = os.path.join(d, "rec.wav")
    degrade(case, work, rec)
    scorer = score_tape if case.source == "tape" else score_fsk
    scores = {}
    for v in variants:
        opts = VARIANTS[v]
        if opts is None:
            scores[v] = scorer(rec, work)
            continue
        out = os.path.join(d, re.sub(r"[^a-z0-9]+", "-", v) + ".wav")
        r = subprocess.run([binary, "-q"] + opts + [rec, out], stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE)
        scores[v] = scorer(out, work) if r.returncode == 0 else 0
        os.remove(out)
    return case, scores


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--work", default="build/field")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--only", default="")
    ap.add_argument("--smoke", action="store_true")
    ap.add_argument("--variants", default=",".join(VARIANTS))
    a = ap.parse_args()
    binary = os.path.abspath(a.bin)
    variants = a.variants.split(",")
    work = os.path.abspath(a.work)
    os.makedirs(work, exist_ok=True)
    make_sources(work)
    cases = case_list()
    if a.smoke:
        cases = [c for c in cases if c.name in SMOKE]
    if a.only:
        cases = [c for c in cases if re.search(a.only, c.name)]
    results = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=a.jobs) as pool:
        for case, scores in pool.map(lambda c: run_case(c, work, binary, variants), cases):
            results[case.name] = scores
            if sys.stderr.isatty():  # progress, while the table waits for every case
                print("%-26s" % case.name + "".join(
                    "%9s" % ("%d/%d" % (scores[v], total(case.source))) for v in variants),
                    flush=True, file=sys.stderr)
    width = max(len(c.name) for c in cases) + 2
    print("%-*s" % (width, "case") + "".join("%9s" % v for v in variants))
    for c in cases:
        s = results[c.name]
        print("%-*s" % (width, c.name) +
              "".join("%9s" % ("%d/%d" % (s[v], total(c.source))) for v in variants))
    print()
    failing = [c for c in cases if results[c.name]["raw"] < total(c.source)]
    print("%d cases, raw fails (decodes less than all) in %d" % (len(cases), len(failing)))
    bad = False
    for v in variants:
        if v == "raw":
            continue
        worse = [c.name for c in cases if results[c.name][v] < results[c.name]["raw"]]
        better = [c.name for c in cases if results[c.name][v] > results[c.name]["raw"]]
        same = len(cases) - len(worse) - len(better)
        better_failing = sum(1 for c in failing if results[c.name][v] > results[c.name]["raw"])
        print("%-9s against raw: worse %2d  same %2d  better %2d  (better in %d of the %d "
              "where raw fails)" % (v, len(worse), same, len(better), better_failing,
                                    len(failing)))
        if v == "auto" and worse:
            bad = True
            print("  auto worse than raw: " + ", ".join(worse))
    return 1 if (a.smoke and bad) else 0


if __name__ == "__main__":
    sys.exit(main())
