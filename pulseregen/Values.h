// The values the options take, read strictly: a number with anything
// after it, or beyond its range, is refused rather than guessed at.
#pragma once

#include <cstdint>

namespace options {

constexpr int kMaxSample = 32767;
constexpr int kMaxSmooth = 1023;  // well within the baseline's look-ahead
constexpr int kMaxFollow = 10000; // half-periods: far slower than any tape
constexpr int kMaxBand = 200000;  // Hz: past half of any rate a WAV file holds
constexpr int kMaxLag = 1000;     // frames: 10 ms at 96 kHz, far beyond any head

// A run of decimal digits with no sign, at most `limit` in value.
bool ParseCount(const char* text, uint64_t limit, uint64_t& value);

} // namespace options
