// The lines pulseregen writes to standard error: why an input was refused and
// what to do about it, and warnings about a run that will not give what the
// user expects. Each is one line that starts with "pulseregen: FILE: ".
#pragma once

#include "Content.h"
#include "Wave.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace diag {

// The name every line starts with, and the version line.
constexpr char kProgram[] = "pulseregen";

// Why `in` refused `path`, and what would read it. Unless the run was
// already --any-wav, `anyWav` is the same file opened with it: whether that
// reads it, and the format in full.
std::string InputRefusal(const char* path, const CWave& in, const CWave* anyWav);
// The data chunk declares more frames than the file holds: the length is
// the `held` ones, the last `trailing` bytes of the file taken for chunks.
std::string LengthFromFile(const char* path, uint64_t declared, uint64_t held, uint64_t trailing);
// A file the reader refused as no RIFF/WAVE file: what its first bytes
// show it to be, when they tell, and how to convert it when it is audio.
std::string NotWave(const char* path, const std::optional<content::Kind>& kind);
// A stream copied only up to `bytes`, the most a RIFF file can hold.
std::string CutShort(const char* path, uint64_t bytes);
// How the output plays when it is labelled 44,100 Hz and the input was
// sampled at `rate`; empty for 44,100 Hz.
std::string RateWarning(const char* path, uint32_t rate);
std::string NoActiveBlock(const char* path, int peak, int activeAbove);
// --auto found no pulse train: `silence` when no block swings past the
// active level, else noise without stable pulse widths.
std::string NothingFound(const char* path, bool silence, int activeAbove, int switchAbove);
// --rate was given for a recording whose declared rate no resampler takes.
std::string CannotResample(const char* path, uint32_t rate, int lowest, int highest);
// What --auto chose, as the options that choose the same.
std::string AutoChoice(const char* path, uint32_t rate, int resampled, const char* channel,
                       int activeAbove, int switchAbove, int window, int smooth, int follow,
                       bool timed, int bandLow, int bandHigh, int carrier, const std::string& pair);
// Most active blocks did not swing past the switch level that --switch gave.
std::string ShortOfGivenSwitch(const char* path, int switchAbove);
// The choices for a stereo recording, lag and balance, as options; they go
// in AutoChoice's line.
std::string PairChoice(double lag, int balance);
// The noise on the pulses' flat tops is so strong that no gap keeps it
// out and still lets the short pulses through.
std::string Drowned(const char* path, int noise, int height);
// The signs that --auto would do better, and the advice to try it.
std::string AutoHint(const char* path, const std::vector<std::string>& signs);
// A failure of `path` with the system's reason for `error` (EIO for 0).
std::string Failure(const char* path, int error);
// The file ended during the run, after `held` of its `declared` frames.
std::string ShortData(const char* path, uint64_t declared, uint64_t held);

// Writes one line to standard error.
void Say(const std::string& line);
// Says "pulseregen: WHAT", for what concerns no file.
void Complain(const std::string& what);

} // namespace diag
