// Samples in the lanes of a 16-byte vector, for the loops of --auto's
// signal path that the compiler does not vectorise well by itself: a scan
// that stops at a sample, a running sum, a conversion to 16 bits. The GCC
// and Clang vector extension (SSE2 on x86-64, NEON on 64-bit ARM); its
// shuffles, which a running sum needs, come with GCC 12 and Clang, and
// without them the callers keep their plain loops (PULSE_LANE_SHUFFLES is
// then 0). The conversion uses the two units' own instructions, and plain
// code elsewhere.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__ARM_NEON)
#include <arm_neon.h>
#endif

#if defined(__has_builtin)
#if __has_builtin(__builtin_shufflevector) && __has_builtin(__builtin_convertvector)
#define PULSE_LANE_SHUFFLES 1
#endif
#endif
#ifndef PULSE_LANE_SHUFFLES
#define PULSE_LANE_SHUFFLES 0
#endif

// A lane's samples lie in memory as the vector holds them; two 16-bit
// samples read as one 32-bit lane have the first in its low half.
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the vector lanes assume a little-endian host"
#endif

namespace regen {
namespace lanes {

constexpr int kShorts = 8;
using Shorts = short __attribute__((vector_size(2 * kShorts)));
using Ints = int32_t __attribute__((vector_size(16)));
using Bits = uint32_t __attribute__((vector_size(16)));

inline Shorts Load(const short* p) {
    Shorts v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void Store(short* p, Shorts v) {
    std::memcpy(p, &v, sizeof v);
}

inline Shorts Each(short v) {
    return Shorts{} + v;
}

// The first lane of a comparison's result that holds all ones, or kShorts.
inline int FirstSet(Shorts mask) {
    uint64_t words[2];
    std::memcpy(words, &mask, sizeof words);
    if (words[0] != 0)
        return __builtin_ctzll(words[0]) / 16;
    return words[1] != 0 ? kShorts / 2 + __builtin_ctzll(words[1]) / 16 : kShorts;
}

// `kHigh`: the larger of each pair of lanes, else the smaller.
template <bool kHigh> Shorts Extreme(Shorts a, Shorts b) {
    return kHigh ? (a > b ? a : b) : (a < b ? a : b);
}

template <bool kHigh> short Extreme(short a, short b) {
    return kHigh ? std::max(a, b) : std::min(a, b);
}

template <bool kHigh> short Extreme(Shorts v) {
    short each[kShorts];
    std::memcpy(each, &v, sizeof each);
    short e = each[0];
    for (int k = 1; k < kShorts; ++k)
        e = Extreme<kHigh>(e, each[k]);
    return e;
}

// out[i] = v[i] held within the 16-bit range and truncated toward zero,
// the value of short(std::min(32767, std::max(-32768, int(v[i])))), for
// values below 2^31 in magnitude: where the vector unit converts with
// truncation and narrows with saturation, two instructions for four.
inline void ToShorts(const float* v, int count, short* out) {
    int i = 0;
#if defined(__SSE2__)
    for (; i + kShorts <= count; i += kShorts) {
        const __m128i low = _mm_cvttps_epi32(_mm_loadu_ps(v + i));
        const __m128i high = _mm_cvttps_epi32(_mm_loadu_ps(v + i + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(low, high));
    }
#elif defined(__ARM_NEON)
    for (; i + kShorts <= count; i += kShorts) {
        const int16x4_t low = vqmovn_s32(vcvtq_s32_f32(vld1q_f32(v + i)));
        const int16x4_t high = vqmovn_s32(vcvtq_s32_f32(vld1q_f32(v + i + 4)));
        vst1q_s16(out + i, vcombine_s16(low, high));
    }
#endif
    for (; i < count; ++i)
        out[i] = short(std::min(32767.0f, std::max(-32768.0f, v[i])));
}

// v rounded to the nearest integer, ties to even (the default rounding
// mode), and held within 16 bits. Adding 1.5 * 2^52 leaves no bits for a
// fraction, so the addition itself rounds, and taking it away again is
// exact (for magnitudes below 2^51; v is held to 16 bits first). Inline,
// where lrint is a call into the maths library that may set errno.
constexpr double kRoundingShift = 6755399441055744.0;
inline short RoundToShort(double v) {
    const double held = std::min(32767.0, std::max(-32768.0, v));
    return short((held + kRoundingShift) - kRoundingShift);
}

// out[i] = RoundToShort(v[i]) for values below 2^31 in magnitude: the
// vector unit rounds in the same mode and narrows with saturation, which
// holds the result as the clamp would.
inline void RoundToShorts(const double* v, int count, short* out) {
    int i = 0;
#if defined(__SSE2__)
    for (; i + kShorts <= count; i += kShorts) {
        const __m128i a = _mm_unpacklo_epi64(_mm_cvtpd_epi32(_mm_loadu_pd(v + i)),
                                             _mm_cvtpd_epi32(_mm_loadu_pd(v + i + 2)));
        const __m128i b = _mm_unpacklo_epi64(_mm_cvtpd_epi32(_mm_loadu_pd(v + i + 4)),
                                             _mm_cvtpd_epi32(_mm_loadu_pd(v + i + 6)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(a, b));
    }
#elif defined(__ARM_NEON)
    for (; i + 4 <= count; i += 4) {
        const int32x4_t a = vcombine_s32(vqmovn_s64(vcvtnq_s64_f64(vld1q_f64(v + i))),
                                         vqmovn_s64(vcvtnq_s64_f64(vld1q_f64(v + i + 2))));
        vst1_s16(out + i, vqmovn_s32(a));
    }
#endif
    for (; i < count; ++i)
        out[i] = RoundToShort(v[i]);
}

// The 16 samples from p as two masks, the first sample the lowest bit:
// `above` where a sample exceeds `high`, `below` where it lies under `low`.
// A comparison sets a lane to all ones; narrowed to bytes, SSE2 gathers
// their top bits in one instruction, and NEON weighs each byte by its bit
// and adds each half across.
inline void Beyond(const short* p, short high, short low, uint32_t& above, uint32_t& below) {
#if defined(__SSE2__)
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + kShorts));
    const __m128i h = _mm_set1_epi16(high), l = _mm_set1_epi16(low);
    above =
        uint32_t(_mm_movemask_epi8(_mm_packs_epi16(_mm_cmpgt_epi16(a, h), _mm_cmpgt_epi16(b, h))));
    below =
        uint32_t(_mm_movemask_epi8(_mm_packs_epi16(_mm_cmplt_epi16(a, l), _mm_cmplt_epi16(b, l))));
#elif defined(__ARM_NEON)
    const int16x8_t a = vld1q_s16(p), b = vld1q_s16(p + kShorts);
    const int16x8_t h = vdupq_n_s16(high), l = vdupq_n_s16(low);
    const uint8x16_t weights = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const auto gather = [&weights](uint16x8_t first, uint16x8_t second) {
        const uint8x16_t bits = vandq_u8(vcombine_u8(vmovn_u16(first), vmovn_u16(second)), weights);
        return uint32_t(vaddv_u8(vget_low_u8(bits))) | uint32_t(vaddv_u8(vget_high_u8(bits))) << 8;
    };
    above = gather(vcgtq_s16(a, h), vcgtq_s16(b, h));
    below = gather(vcltq_s16(a, l), vcltq_s16(b, l));
#else
    above = below = 0;
    for (int k = 0; k < 2 * kShorts; ++k) {
        above |= uint32_t(p[k] > high) << k;
        below |= uint32_t(p[k] < low) << k;
    }
#endif
}

#if PULSE_LANE_SHUFFLES
// sums[i] = from[0] + ... + from[i - 1] for i from 0 to count, eight
// samples at a time: the sums of four pairs (a pair of samples is one
// 32-bit lane), summed across the lanes by two shifted additions, give the
// sums through each pair's second sample; less that sample, through its
// first.
inline void PrefixSums(const short* from, int count, int32_t* sums) {
    const Ints none{};
    Ints carry{}; // the sum so far, in every lane
    int i = 0;
    for (; i + kShorts <= count; i += kShorts) {
        Ints pairs;
        std::memcpy(&pairs, from + i, sizeof pairs);
        const Ints second = pairs >> 16;
        const Ints first = Ints(Bits(pairs) << 16) >> 16;
        Ints through = first + second;
        through += __builtin_shufflevector(none, through, 0, 4, 5, 6);
        through += __builtin_shufflevector(none, through, 0, 1, 4, 5);
        through += carry;
        const Ints throughFirst = through - second;
        carry = __builtin_shufflevector(through, through, 3, 3, 3, 3);
        const Ints low = __builtin_shufflevector(throughFirst, through, 0, 4, 1, 5);
        const Ints high = __builtin_shufflevector(throughFirst, through, 2, 6, 3, 7);
        std::memcpy(sums + i + 1, &low, sizeof low);
        std::memcpy(sums + i + 5, &high, sizeof high);
    }
    int32_t total = carry[0];
    sums[0] = 0;
    for (; i < count; ++i)
        total += from[i], sums[i + 1] = total;
}
#endif

} // namespace lanes
} // namespace regen
