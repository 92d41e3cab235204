"""How far any two-level output could go on the field benchmark's hard cases.

pulseregen writes a two-level wave: every sample is decided before the
decoder sees it. This script asks, for the cases of a field.py --json run
where the raw recording fails or --auto decodes worse than it, what the best
of a family of two-level renderings of the same recording decodes: each
channel and the mix, through a zero-phase Butterworth high-pass, low-pass or
band-pass around the source's band (or none), decided at zero or with a
hysteresis of 0.15 of the filtered signal's deviation. The best is picked
with the judge's own count, that is, with the answer in hand, which no rule
that sees only the recording can do; so it bounds from above what such
renderings give, and where it stays below the raw recording, no output of
this family reaches the decoder that reads the raw one.

usage: /usr/bin/python3 bench/field/ceiling.py RESULTS.json [--jobs N] [--work DIR]
"""
import argparse
import itertools
import json
import multiprocessing
import os
import shutil
import sys

import numpy as np
from scipy import signal

import field
import judges

# Corners as multiples of the highest frequency the source needs.
HIGH_PASS = [None, 0.1, 0.3]
LOW_PASS = [None, 1.5, 3.0]
HYSTERESIS = [0.0, 0.15]  # of the filtered signal's standard deviation
ORDER = 2                 # each way: sosfiltfilt doubles it
LEVEL = 0.9               # of full scale


def two_level(v, gap):
    """+-1 from v: the level flips when v passes the other side's threshold."""
    if gap == 0:
        return np.where(v >= 0, 1.0, -1.0)
    out = np.empty_like(v)
    state = 1.0 if v[0] >= 0 else -1.0
    for i, x in enumerate(v):
        if state > 0 and x < -gap:
            state = -1.0
        elif state < 0 and x > gap:
            state = 1.0
        out[i] = state
    return out


def filtered(v, rate, top, low, high):
    v = v - v.mean()
    high = high if high and high * top < 0.45 * rate else None
    if low and high:
        sos = signal.butter(ORDER, [low * top, high * top], "bandpass", fs=rate, output="sos")
    elif low:
        sos = signal.butter(ORDER, low * top, "highpass", fs=rate, output="sos")
    elif high:
        sos = signal.butter(ORDER, high * top, "lowpass", fs=rate, output="sos")
    else:
        return v
    return signal.sosfiltfilt(sos, v)


def best_rendering(args):
    result, work, clean = args
    seed, source = result["seed"], result["source"]
    d = os.path.join(work, str(seed))
    os.makedirs(d, exist_ok=True)
    # The recording as the benchmark writes it, clipped to 16 bits, not the
    # degradation's floats, which a DC offset can carry past full scale.
    y, rate = judges.read_wav(field.record(seed, clean, d)[0])
    channels = {"mix": y.mean(axis=1)}
    if y.shape[1] > 1:
        channels["left"], channels["right"] = y[:, 0], y[:, 1]
    top = judges.top_frequency(source)
    best, how = -1, ""
    out = os.path.join(d, "two-level.wav")
    for (name, v), low, high in itertools.product(channels.items(), HIGH_PASS, LOW_PASS):
        w = filtered(v, rate, top, low, high)
        for h in HYSTERESIS:
            judges.write_wav(out, LEVEL * two_level(w, h * np.std(w)), rate)
            score = judges.judge(source, out)
            if score > best:
                best, how = score, "%s high-pass %s low-pass %s hysteresis %s" % (name, low, high, h)
    shutil.rmtree(d)
    return dict(result, best=best, how=how)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("results", help="a field.py --json file with the raw and auto variants")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--work", default="build/field-ceiling")
    a = ap.parse_args()
    with open(a.results) as f:
        results = json.load(f)
    hard = [r for r in results
            if r["scores"]["raw"] < r["items"] or r["scores"]["auto"] < r["scores"]["raw"]]
    work = os.path.abspath(a.work)
    os.makedirs(work, exist_ok=True)
    clean = judges.make_sources(work)
    with multiprocessing.Pool(a.jobs) as pool:
        done = pool.map(best_rendering, [(r, work, clean) for r in hard])
    for r in done:
        print("%6d %-8s raw %2d  auto %2d  best two-level %2d of %2d  (%s)  [%s]" % (
            r["seed"], r["source"], r["scores"]["raw"], r["scores"]["auto"], r["best"],
            r["items"], r["how"], r["what"]))
    worse = [r for r in done if r["scores"]["auto"] < r["scores"]["raw"]]
    failing = [r for r in done if r["scores"]["raw"] < r["items"]]
    print()
    print("auto worse than raw: %d; of them, the best two-level rendering reaches raw in %d" % (
        len(worse), sum(r["best"] >= r["scores"]["raw"] for r in worse)))
    print("raw fails: %d; auto better in %d, the best two-level rendering in %d, either in %d" % (
        len(failing), sum(r["scores"]["auto"] > r["scores"]["raw"] for r in failing),
        sum(r["best"] > r["scores"]["raw"] for r in failing),
        sum(max(r["best"], r["scores"]["auto"]) > r["scores"]["raw"] for r in failing)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
