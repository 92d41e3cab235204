"""Random degradations of a recording, drawn from ranges with a seed.

Each degradation is one thing that happens to a recording on its way from
the tape or the radio to a WAV file. A case draws two or three of them and
their parameters from one seed; they are applied in the order in which they
happen (transport, electronics, tape, heads, noise, sound card, coding), so
that a case is a plausible recording. The same seed always gives the same
recording, bit for bit.
"""
import os
import subprocess
import tempfile
from math import gcd

import numpy as np
from scipy import signal

RATES = [8000, 11025, 22050, 48000, 96000]


def db(x):
    return 10 ** (x / 20)


def active_mask(x, rate):
    """Frames where the clean signal plays: its 10 ms envelope is above a tenth of its peak."""
    env = np.abs(x).max(axis=1)
    n = max(1, int(0.01 * rate))
    env = np.convolve(env, np.ones(n) / n, mode="same")
    return env > 0.1 * env.max()


def signal_power(x, rate):
    m = active_mask(x, rate)
    return float(np.mean(x[m] ** 2)) if m.any() else 1e-9


def warp(x, positions):
    """The recording read at fractional frame `positions` (a tape moving unevenly)."""
    idx = np.arange(len(x))
    return np.stack([np.interp(positions, idx, x[:, c]) for c in range(x.shape[1])], axis=1)


# Each takes (x, rate, rng, ctx) and returns (x, rate, description).

def speed(x, rate, rng, ctx):
    f = 1 + rng.uniform(-0.05, 0.05)
    return warp(x, np.arange(0, len(x) - 1, f)), rate, "speed %.3f" % f


def wow_flutter(x, rate, rng, ctx):
    fw, dw = rng.uniform(0.3, 2), rng.uniform(0, 0.02)
    ff, df = rng.uniform(5, 15), rng.uniform(0, 0.005)
    t = np.arange(len(x)) / rate
    s = (1 + dw * np.sin(2 * np.pi * fw * t + rng.uniform(0, 6.3))
         + df * np.sin(2 * np.pi * ff * t + rng.uniform(0, 6.3)))
    pos = np.cumsum(s) - s[0]
    pos = pos[pos <= len(x) - 1]
    return warp(x, pos), rate, "wow %.1fHz %.2f%% flutter %.1fHz %.2f%%" % (
        fw, 100 * dw, ff, 100 * df)


def lowpass(x, rate, rng, ctx):
    order = int(rng.integers(1, 5))
    fc = min(rng.uniform(1.1, 3.0) * ctx["top"], 0.45 * rate)
    sos = signal.butter(order, fc, "low", fs=rate, output="sos")
    return signal.sosfilt(sos, x, axis=0), rate, "lowpass %d Hz order %d" % (fc, order)


def droop(x, rate, rng, ctx):
    fc = rng.uniform(100, 1500)
    sos = signal.butter(1, fc, "high", fs=rate, output="sos")
    return signal.sosfilt(sos, x, axis=0), rate, "highpass %d Hz" % fc


def dropouts(x, rate, rng, ctx):
    g = np.ones(len(x))
    where = np.flatnonzero(active_mask(x, rate))
    count = max(1, int(rng.integers(1, 7) * len(x) / rate / 10))
    edge = int(0.002 * rate)
    ramp = 0.5 - 0.5 * np.cos(np.linspace(0, np.pi, edge))
    lengths = []
    for _ in range(count):
        at = int(rng.choice(where))
        n = int(rng.uniform(0.003, 0.05) * rate)
        depth = db(-rng.uniform(10, 20))
        shape = np.concatenate([1 - (1 - depth) * ramp, np.full(n, depth),
                                depth + (1 - depth) * ramp])
        end = min(len(g), at + len(shape))
        g[at:end] = np.minimum(g[at:end], shape[:end - at])
        lengths.append(n * 1000 // rate)
    return x * g[:, None], rate, "%d dropouts (%s ms)" % (count, ",".join(map(str, lengths)))


def level_modulation(x, rate, rng, ctx):
    d = rng.uniform(2, 6)
    t = np.arange(len(x)) / rate
    if rng.random() < 0.5:
        f = rng.uniform(0.05, 0.5)
        g = d * np.sin(2 * np.pi * f * t + rng.uniform(0, 6.3))
        what = "level +-%.1f dB at %.2f Hz" % (d, f)
    else:
        g = d * (t / t[-1] - 0.5) * 2 * rng.choice([-1, 1])
        what = "level ramp %.1f dB" % (2 * d)
    return x * db(g)[:, None], rate, what


def stereo(x, rate, rng, ctx):
    if x.shape[1] == 2:
        return x, rate, "stereo"
    weak = db(-rng.uniform(0, 10))
    side = int(rng.integers(0, 2))
    gains = [1.0, 1.0]
    gains[side] = weak
    ctx["noisier"] = (side, rng.uniform(1, 4))  # noise, if any, is louder on the weak side
    return np.concatenate([x * gains[0], x * gains[1]], axis=1), rate, \
        "stereo, %s %.1f dB down" % ("left" if side == 0 else "right", -20 * np.log10(weak))


def azimuth(x, rate, rng, ctx):
    if x.shape[1] == 1:
        x = np.concatenate([x, x], axis=1)
    lag = rng.uniform(0.05e-3, 0.5e-3)
    # A delay of a fraction of a frame, as a phase shift of every frequency.
    n = len(x)
    f = np.fft.rfftfreq(2 * n, 1 / rate)
    spec = np.fft.rfft(x[:, 1], 2 * n) * np.exp(-2j * np.pi * f * lag)
    x = x.copy()
    x[:, 1] = np.fft.irfft(spec, 2 * n)[:n]
    return x, rate, "azimuth, right %.3f ms late" % (lag * 1000)


def add_noise(x, rate, rng, ctx, kind):
    snr = rng.uniform(3, 20)
    n, ch = x.shape
    if kind == "hum":
        f0 = rng.choice([50, 60])
        t = np.arange(n) / rate
        one = sum(rng.uniform(0.1, 1) / k * np.sin(2 * np.pi * f0 * k * t + rng.uniform(0, 6.3))
                  for k in range(1, 8) if f0 * k < rate / 2)
        noise = np.repeat(one[:, None], ch, axis=1)
        what = "hum %d Hz" % f0
    else:
        noise = rng.standard_normal((n, ch))
        if kind == "pink":
            f = np.fft.rfftfreq(n, 1 / rate)
            shape = 1 / np.sqrt(np.maximum(f, 5.0))
            noise = np.fft.irfft(np.fft.rfft(noise, axis=0) * shape[:, None], n, axis=0)
        what = kind + " noise"
    noise /= np.sqrt(np.mean(noise ** 2))
    noise *= np.sqrt(signal_power(x, rate) / db(snr) ** 2)
    if "noisier" in ctx and ch == 2 and kind != "hum":
        side, more = ctx["noisier"]
        noise[:, side] *= more
    return x + noise, rate, "%s %.1f dB SNR" % (what, snr)


def white(x, rate, rng, ctx):
    return add_noise(x, rate, rng, ctx, "white")


def pink(x, rate, rng, ctx):
    return add_noise(x, rate, rng, ctx, "pink")


def hum(x, rate, rng, ctx):
    return add_noise(x, rate, rng, ctx, "hum")


def gain(x, rate, rng, ctx):
    g = rng.uniform(-30, 1.5)
    return x * db(g), rate, "gain %.1f dB" % g


def dc(x, rate, rng, ctx):
    off = rng.uniform(0.05, 0.6) * np.max(np.abs(x)) * rng.choice([-1, 1])
    return x + off, rate, "DC %+d" % int(off * 32768)


def clip(x, rate, rng, ctx):
    share = rng.uniform(0.3, 0.85)
    top = share * np.max(np.abs(x))
    return np.clip(x, -top, top), rate, "clipped at %d%% of the peak" % (100 * share)


def mp3(x, rate, rng, ctx):
    from judges import read_wav, write_wav
    kbps = int(rng.choice([64, 80, 96, 112, 128]))
    with tempfile.TemporaryDirectory() as d:
        src, coded, back = (os.path.join(d, n) for n in ("in.wav", "c.mp3", "out.wav"))
        write_wav(src, x, rate)
        subprocess.run(["ffmpeg", "-v", "error", "-i", src, "-c:a", "libmp3lame", "-b:a",
                        "%dk" % kbps, coded], check=True)
        subprocess.run(["ffmpeg", "-v", "error", "-i", coded, "-c:a", "pcm_s16le", back],
                       check=True)
        y, r = read_wav(back)
    return y, r, "MP3 %d kbit/s" % kbps


def resample(x, rate, rng, ctx):
    to = int(rng.choice([r for r in RATES if r != rate]))
    g = gcd(to, rate)
    return signal.resample_poly(x, to // g, rate // g, axis=0), to, "resampled to %d Hz" % to


# The order in which they happen to a recording.
ORDER = [
    ("speed", speed), ("wow", wow_flutter), ("lowpass", lowpass), ("droop", droop),
    ("dropouts", dropouts), ("level", level_modulation), ("stereo", stereo),
    ("azimuth", azimuth), ("white", white), ("pink", pink), ("hum", hum), ("gain", gain),
    ("dc", dc), ("clip", clip), ("mp3", mp3), ("resample", resample),
]
NAMES = [n for n, _ in ORDER]


def draw(seed):
    """The names of the degradations case `seed` applies: two or three, in ORDER."""
    rng = np.random.default_rng([seed, 0])
    k = int(rng.integers(2, 4))
    chosen = set(rng.choice(NAMES, k, replace=False))
    return [n for n in NAMES if n in chosen]


def degrade(x, rate, seed, top):
    """(recording, rate, description) of case `seed` from the clean mono `x`."""
    rng = np.random.default_rng([seed, 1])
    ctx = {"top": top}
    what = []
    fns = dict(ORDER)
    for name in draw(seed):
        x, rate, d = fns[name](x, rate, rng, ctx)
        what.append(d)
    return x, rate, "; ".join(what)
