// The specialised reading path of every loader: ReadFrames decodes runs of
// file bytes with loops fixed at one and two channels, and a sink folds each
// frame into the caller's layout. Internal to the library; WaveRead.cpp is
// its one user, the tests reach it only through CWave.
#pragma once

#include "Stream.h"
#include "WavFormat.h"
#include "Wave.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__ARM_NEON)
#include <arm_neon.h>
#endif

// Sample data is copied between files and memory as images of the file
// bytes, so the host must store integers little-endian (as the 64-bit ARM
// and x86 targets do).
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "CWave needs a little-endian host"
#endif

namespace wav {
// Internal linkage, so that the compiler may inline each loop into its one
// caller as freely as in a single source file: the loaders' speed rests on it.
namespace {

// Bytes of the scratch buffer inside the object, the loaders' runs where
// the stream has no buffer of its own: large enough to amortise the call, a
// multiple of every frame size the fixed loops handle (2 and 4).
constexpr size_t kIoBytes = 64 * 1024;

// 16-bit values are floats times this: -32768 is -1.0.
constexpr double kFullScale = 32768.0;

// 8-bit samples are unsigned, 128 the silence.
inline int Widen8(unsigned char byte) {
    return (int(byte) - 128) * 256;
}

template <int SampleBytes> int DecodeSample(const unsigned char* p) {
    if constexpr (SampleBytes == 1) {
        return Widen8(p[0]);
    } else {
        // A plain 16-bit load on the little-endian host, which the compiler
        // can widen many samples at a time.
        int16_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
}

// A float sample as a 16-bit value: x 32768, rounded toward zero, held
// within the 16-bit range; NaN gives 0. In the sample's own type: scaling by
// a power of two is exact in it (a float too large goes to infinity, held
// all the same), and the selections, free of branches, vectorise.
template <class Float> int16_t FloatTo16(Float v) {
    const Float x = v * Float(kFullScale);
    const Float held = x > Float(INT16_MAX)   ? Float(INT16_MAX)
                       : x < Float(INT16_MIN) ? Float(INT16_MIN)
                                              : x;
    return x == x ? int16_t(held) : int16_t(0);
}

// The 16 bits of a little-endian integer that begin at `p`: a plain load.
inline int16_t Bits16At(const unsigned char* p) {
    int16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Where the loops' bytes come from: the stream, read a run at a time into
// the buffer `io`, which holds `capacity` bytes.
struct Source {
    FILE* fp;
    unsigned char* io;
    size_t capacity;

    // Points `bytes` at up to `ask` more bytes of the file, `ask` at most
    // `capacity`, and returns how many there are.
    size_t Next(size_t ask, const unsigned char*& bytes) {
        bytes = io;
        return fread(io, 1, ask, fp);
    }
    // Copies up to `count` more bytes of the file to `to`; returns how many.
    size_t CopyTo(void* to, size_t count) { return fread(to, 1, count, fp); }
};

// Rewrites `count` samples of `stride` bytes at `from` as 16-bit values at
// `to`, which may be `from` itself: each is read before its bytes can be
// overwritten, since every stride is at least 2. Returns the bytes of 16-bit
// samples.
template <class Decode>
size_t Rewrite(const unsigned char* from, unsigned char* to, size_t count, size_t stride,
               Decode decode) {
    for (size_t k = 0; k < count; ++k) {
        const int16_t v = decode(from + k * stride);
        std::memcpy(to + 2 * k, &v, sizeof v);
    }
    return 2 * count;
}

// FloatTo16 of the first eight-float groups of `count` 32-bit floats at
// `from`, written as 16-bit values at `to` (which may be `from`: each group
// is read before its bytes can be overwritten); returns how many it
// converted, the rest being left to the caller. Eight at a time with the
// vector unit's own conversion: on SSE2 the values are held within the
// 16-bit range as floats (infinities included), truncated and narrowed,
// and NaN masked to 0; NEON's conversion and narrowing saturate and give
// 0 for NaN themselves. Elsewhere none.
inline size_t FloatsTo16(const unsigned char* from, unsigned char* to, size_t count) {
    size_t k = 0;
#if defined(__SSE2__)
    const __m128 scale = _mm_set1_ps(float(kFullScale));
    const __m128 low = _mm_set1_ps(float(INT16_MIN)), high = _mm_set1_ps(float(INT16_MAX));
    for (; k + 8 <= count; k += 8) {
        const __m128 a =
            _mm_mul_ps(_mm_loadu_ps(reinterpret_cast<const float*>(from + 4 * k)), scale);
        const __m128 b =
            _mm_mul_ps(_mm_loadu_ps(reinterpret_cast<const float*>(from + 4 * k + 16)), scale);
        const __m128i ia = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(a, low), high));
        const __m128i ib = _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(b, low), high));
        const __m128i numbers = _mm_packs_epi32(_mm_castps_si128(_mm_cmpord_ps(a, a)),
                                                _mm_castps_si128(_mm_cmpord_ps(b, b)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 2 * k),
                         _mm_and_si128(_mm_packs_epi32(ia, ib), numbers));
    }
#elif defined(__ARM_NEON)
    const float32x4_t scale = vdupq_n_f32(float(kFullScale));
    for (; k + 8 <= count; k += 8) {
        const float32x4_t a =
            vmulq_f32(vld1q_f32(reinterpret_cast<const float*>(from + 4 * k)), scale);
        const float32x4_t b =
            vmulq_f32(vld1q_f32(reinterpret_cast<const float*>(from + 4 * k + 16)), scale);
        const int16x8_t v =
            vcombine_s16(vqmovn_s32(vcvtq_s32_f32(a)), vqmovn_s32(vcvtq_s32_f32(b)));
        vst1q_s16(reinterpret_cast<int16_t*>(to + 2 * k), v);
    }
#else
    (void)from, (void)to, (void)count;
#endif
    return k;
}

// The top 16 bits of the first groups of `count` packed 24-bit integers at
// `from` (eight to a group on SSE2, sixteen on NEON), written as 16-bit
// values at `to`, which may be `from`: each group is read before its bytes
// can be overwritten. Returns how many it converted, the rest being left to
// the caller. NEON loads sixteen samples split into their three bytes and
// stores the top two interleaved. SSE2 has no byte shuffle: of every four
// samples, sample j is moved up j bytes, into a 32-bit lane of its own, where
// two shifts leave its top 16 bits, sign extended, to be narrowed. Elsewhere
// none: one sample at a time was most of the time `--any-wav` spent on
// 24-bit files beyond the reads.
inline size_t Tops24To16(const unsigned char* from, unsigned char* to, size_t count) {
    size_t k = 0;
#if defined(__SSE2__)
    const __m128i lane0 = _mm_set_epi32(0, 0, 0, -1), lane1 = _mm_set_epi32(0, 0, -1, 0);
    const __m128i lane2 = _mm_set_epi32(0, -1, 0, 0), lane3 = _mm_set_epi32(-1, 0, 0, 0);
    const auto four = [&](__m128i x) {
        const __m128i spread = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(x, lane0), _mm_and_si128(_mm_slli_si128(x, 1), lane1)),
            _mm_or_si128(_mm_and_si128(_mm_slli_si128(x, 2), lane2),
                         _mm_and_si128(_mm_slli_si128(x, 3), lane3)));
        return _mm_srai_epi32(_mm_slli_epi32(spread, 8), 16);
    };
    for (; k + 8 <= count; k += 8) {
        // Samples 0 to 3 are the first 12 of the group's 24 bytes, 4 to 7
        // the last 12: loaded from byte 8 on, so as not to read past them.
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 3 * k));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 3 * k + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 2 * k),
                         _mm_packs_epi32(four(low), four(_mm_srli_si128(high, 4))));
    }
#elif defined(__ARM_NEON)
    for (; k + 16 <= count; k += 16) {
        const uint8x16x3_t bytes = vld3q_u8(from + 3 * k);
        vst2q_u8(to + 2 * k, (uint8x16x2_t{{bytes.val[1], bytes.val[2]}}));
    }
#else
    (void)from, (void)to, (void)count;
#endif
    return k;
}

// Converts the whole samples among `got` bytes at `from` of a layout that
// the loops do not decode themselves into 16-bit ones at `io`; returns their
// bytes. Integers keep their top 16 bits (8-bit ones are unsigned).
inline size_t ToShorts(const Layout& l, const unsigned char* from, unsigned char* io, size_t got) {
    const size_t count = got / l.containerBytes, stride = l.containerBytes;
    // The usual strides are given as constants, so that the loops specialise.
    if (l.isFloat && stride == 4) {
        const size_t fast = FloatsTo16(from, io, count);
        return 2 * fast +
               Rewrite(from + 4 * fast, io + 2 * fast, count - fast, 4, [](const unsigned char* p) {
                   float v;
                   std::memcpy(&v, p, sizeof v);
                   return FloatTo16(v);
               });
    }
    if (l.isFloat)
        return Rewrite(from, io, count, stride, [](const unsigned char* p) {
            double v;
            std::memcpy(&v, p, sizeof v);
            return FloatTo16(v);
        });
    // The top 16 bits of an integer of 3 bytes are its last two, of 4 or
    // more the last two of its first 4.
    switch (l.valueBytes) {
    case 1:
        return Rewrite(from, io, count, stride,
                       [](const unsigned char* p) { return int16_t(Widen8(p[0])); });
    case 2:
        return Rewrite(from, io, count, stride, Bits16At);
    case 3: {
        const auto top = [](const unsigned char* p) { return Bits16At(p + 1); };
        if (stride != 3)
            return Rewrite(from, io, count, stride, top);
        const size_t fast = Tops24To16(from, io, count);
        return 2 * fast + Rewrite(from + 3 * fast, io + 2 * fast, count - fast, 3, top);
    }
    default: {
        const auto top = [](const unsigned char* p) { return Bits16At(p + 2); };
        return stride == 4 ? Rewrite(from, io, count, 4, top)
                           : Rewrite(from, io, count, stride, top);
    }
    }
}

// Bytes of file read per stdio call into a buffer of `capacity` bytes (a
// multiple of 4): all of it, or for converted samples the most whole frames
// (whole samples, for frames wider than that) it holds, so that no run ends
// inside a sample and the fixed loops see whole frames.
inline size_t RunBytes(const Layout& l, size_t capacity) {
    if (!l.Converted())
        return capacity;
    const uint64_t unit = l.FrameBytes() <= capacity ? l.FrameBytes() : l.containerBytes;
    return size_t(capacity / unit * unit);
}

// Hands the whole frames among `bytes` bytes at `p` to the sink, numbered
// from `frame`: a counted loop over a fixed frame size, which the compiler
// vectorises. Returns how many there were.
template <int SampleBytes, int Channels, class Sink>
ptrdiff_t FixedFrames(const unsigned char* p, size_t bytes, int frame, Sink& sink) {
    constexpr size_t kFrameBytes = size_t(Channels) * SampleBytes;
    const ptrdiff_t whole = ptrdiff_t(bytes / kFrameBytes);
    for (ptrdiff_t k = 0; k < whole; ++k) {
        const unsigned char* f = p + k * ptrdiff_t(kFrameBytes);
        const int a = DecodeSample<SampleBytes>(f);
        const int b = Channels == 2 ? DecodeSample<SampleBytes>(f + SampleBytes) : a;
        int64_t total = Channels == 2 ? int64_t(a) + b : a;
        if constexpr (Channels == 2 && SampleBytes == 2) {
            // The same sum from one 32-bit load split by shifts: lane-wise
            // arithmetic that vectorises without shuffles. A sink that takes
            // only the sum, or only the samples, leaves the other unused.
            uint32_t word;
            std::memcpy(&word, f, sizeof word);
            total = (int32_t(word << 16) >> 16) + (int32_t(word) >> 16);
        }
        sink.Frame(frame + k, a, b, total);
    }
    return whole;
}

// The one reading path of every loader. Reads the bytes of `frames` frames
// in runs that fill the source's buffer, and hands each frame to the sink
// as its first channel value, its second (the first again for a
// one-channel file), and the sum of all its channels. Channels is the
// file's channel count when it is 1 or 2, which lets the compiler
// specialise the loop, and 0 for any other count, given at run time.
// Samples the loops do not decode are converted to 16 bits run by run
// first. Returns the frames read whole, and adds the bytes read to
// `consumed`: where fewer than `frames` came, the file ended or a read
// failed inside the next one.
template <int SampleBytes, int Channels, class Sink>
int ReadFrames(Source& source, const Layout& layout, int frames, Sink& sink, uint64_t& consumed) {
    static_assert(kIoBytes % 4 == 0 && kStreamBufferBytes % 4 == 0,
                  "a full run must hold whole 1- and 2-channel frames");
    if (layout.channels == 0) {
        for (int i = 0; i < frames; ++i)
            sink.Frame(i, 0, 0, 0);
        return frames;
    }
    const bool converted = layout.Converted();
    const uint64_t run = RunBytes(layout, source.capacity);
    uint64_t left = uint64_t(frames) * layout.FrameBytes();
    int frame = 0;
    // A frame of any other channel count may straddle two runs; these carry
    // it over. Its loop stays here: in a function of its own, taking these by
    // reference, it ran 14% more instructions.
    unsigned ch = 0;
    int first = 0, second = 0;
    int64_t sum = 0;
    while (left > 0) {
        const size_t ask = size_t(std::min<uint64_t>(left, run));
        const unsigned char* bytes;
        const size_t got = source.Next(ask, bytes);
        consumed += got;
        const size_t usable = converted ? ToShorts(layout, bytes, source.io, got) : got;
        const unsigned char* io = converted ? source.io : bytes;
        if constexpr (Channels > 0) {
            frame += int(FixedFrames<SampleBytes, Channels>(io, usable, frame, sink));
        } else {
            for (const unsigned char *p = io, *end = io + usable / SampleBytes * SampleBytes;
                 p < end; p += SampleBytes) {
                const int v = DecodeSample<SampleBytes>(p);
                if (ch == 0)
                    first = second = v;
                else if (ch == 1)
                    second = v;
                sum += v;
                if (++ch == layout.channels) {
                    sink.Frame(frame++, first, second, sum);
                    ch = 0;
                    sum = 0;
                }
            }
        }
        if (got < ask)
            break;
        left -= got;
    }
    return frame;
}

// Picks the ReadFrames specialisation for the layout's sample width and
// channel count, and the matching sink.
template <template <int> class Sink, class... Args>
int Dispatch(Source& source, const Layout& layout, int frames, uint64_t& consumed, Args... args) {
    const bool narrow = layout.SampleBytes() == 1;
    switch (layout.channels) {
    case 1: {
        Sink<1> sink{args..., 1u};
        return narrow ? ReadFrames<1, 1>(source, layout, frames, sink, consumed)
                      : ReadFrames<2, 1>(source, layout, frames, sink, consumed);
    }
    case 2: {
        Sink<2> sink{args..., 2u};
        return narrow ? ReadFrames<1, 2>(source, layout, frames, sink, consumed)
                      : ReadFrames<2, 2>(source, layout, frames, sink, consumed);
    }
    default: {
        Sink<0> sink{args..., layout.channels};
        return narrow ? ReadFrames<1, 0>(source, layout, frames, sink, consumed)
                      : ReadFrames<2, 0>(source, layout, frames, sink, consumed);
    }
    }
}

// Sum of a frame's channels divided by their count, truncating toward zero.
template <int Channels> int64_t Average(int64_t sum, unsigned channels) {
    // A frame has at most 65,535 channels of at most 32,768 in magnitude, so
    // its sum fits in 32 bits and a 32-bit division gives the same quotient:
    // cheaper, and for one or two channels the compiler vectorises it.
    if constexpr (Channels > 0)
        return int32_t(sum) / Channels;
    else
        return channels ? int32_t(sum) / int32_t(channels) : 0;
}

// Stores frame i of a two-channel output in the chosen layout.
template <class T> void PutPair(T* out, ptrdiff_t frames, bool interleaved, ptrdiff_t i, T a, T b) {
    if (interleaved) {
        out[2 * i] = a;
        out[2 * i + 1] = b;
    } else {
        out[i] = a;
        out[frames + i] = b;
    }
}

// Zeroes frames `from` to `frames` - 1 of the output in its layout.
template <class T>
void ZeroFrom(T* out, ptrdiff_t frames, ptrdiff_t from, bool stereo, bool interleaved) {
    if (from >= frames)
        return;
    if (!stereo) {
        std::fill(out + from, out + frames, T(0));
    } else if (interleaved) {
        std::fill(out + 2 * from, out + 2 * frames, T(0));
    } else {
        std::fill(out + from, out + frames, T(0));
        std::fill(out + frames + from, out + 2 * frames, T(0));
    }
}

// Folds a frame into two-channel 16-bit output: the two channels as they are
// from a two-channel file (the dispatch hands every two-channel file to
// ShortSink<2>), else the average of all channels in both.
template <int Channels> struct ShortSink {
    short* out;
    ptrdiff_t frames;
    bool interleaved;
    unsigned channels;

    void Frame(ptrdiff_t i, int first, int second, int64_t sum) {
        if constexpr (Channels == 2) {
            PutPair(out, frames, interleaved, i, short(first), short(second));
        } else {
            const short mixed = short(Average<Channels>(sum, channels));
            PutPair(out, frames, interleaved, i, mixed, mixed);
        }
    }
};

// Folds a frame into one 16-bit value, the average of all its channels.
template <int Channels> struct MonoShortSink {
    short* out;
    unsigned channels;

    void Frame(ptrdiff_t i, int, int, int64_t sum) {
        out[i] = short(Average<Channels>(sum, channels));
    }
};

// The mix modes (CWave::tMixMode), all of them: the mixed value is
// (LeftWeight x L + RightWeight x R) / 2^HalvingShift, truncated toward zero.
// Fixed for a whole load, so that the loops carry no branch per frame.
inline int32_t LeftWeight(int mode) {
    return mode == CWave::kMixRight ? 0 : 1;
}
inline int32_t RightWeight(int mode) {
    if (mode == CWave::kMixLeft)
        return 0;
    return mode == CWave::kMixDifference || mode == CWave::kMixDifferenceToo ? -1 : 1;
}
inline int HalvingShift(int mode) {
    return mode == CWave::kMixLeft || mode == CWave::kMixRight ? 0 : 1;
}

// In 32 bits, which a weighted sum of two 16-bit values fits, and by a
// shift: the loops that mix stay free of divisions and vectorise.
inline int32_t Mix(int32_t leftWeight, int32_t rightWeight, int shift, int left, int right) {
    const int32_t sum = leftWeight * left + rightWeight * right;
    // sum / 2^shift, truncating toward zero as an integer division does.
    return (sum + ((sum >> 31) & ((1 << shift) - 1))) >> shift;
}

inline float ToFloat(int64_t v) {
    return float(double(v) / kFullScale);
}

// Folds a frame into two-channel float output: the two channels as they are
// from a two-channel file, otherwise the first two channels mixed by mode in
// both (further channels take no part).
template <int Channels> struct FloatSink {
    float* out;
    ptrdiff_t frames;
    bool interleaved;
    int32_t left, right; // the mode's weights
    int shift;
    unsigned channels;

    void Frame(ptrdiff_t i, int first, int second, int64_t /*sum*/) {
        if (channels == 2) {
            PutPair(out, frames, interleaved, i, ToFloat(first), ToFloat(second));
            return;
        }
        const float mixed = ToFloat(Mix(left, right, shift, first, second));
        PutPair(out, frames, interleaved, i, mixed, mixed);
    }
};

// Folds a frame into one float by mix mode.
template <int Channels> struct MonoFloatSink {
    float* out;
    int32_t left, right; // the mode's weights
    int shift;
    unsigned channels;

    void Frame(ptrdiff_t i, int first, int second, int64_t /*sum*/) {
        out[i] = float(Mix(left, right, shift, first, second)) * float(1 / kFullScale);
    }
};

} // namespace
} // namespace wav
