// What a file that the WAV reader refuses holds, as far as its first bytes
// tell: a directory, an empty or too short file, a text, or audio in another
// container. The conversion of the audio kinds is a command that stock
// Debian runs.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace content {

// The first bytes that Identify looks at.
constexpr size_t kHeadBytes = 512;
// The smallest WAV file: the RIFF header, a 16-byte format chunk and the
// header of a data chunk. Anything shorter cannot hold a sample frame.
constexpr size_t kSmallestWav = 44;

struct Kind {
    std::string what;   // "an empty file, not a WAV file", ...
    bool audio = false; // ffmpeg converts it to a WAV file
};

// `head` is the file's first bytes, all of them when `whole`. Empty for a
// file that starts as a RIFF/WAVE file and may be long enough to be one,
// and for bytes that tell nothing: the reader judges those.
std::optional<Kind> Identify(bool directory, const std::string& head, bool whole);

// The name of a compressed format that a WAV file's format tag names, as
// MP3 for 0x55; empty for PCM, float and the tags that say "see the
// subformat".
std::optional<std::string> CompressedFormat(int tag);

// The command that converts `path` to 16-bit PCM WAV with Debian's ffmpeg,
// "-" for standard input.
std::string FfmpegCommand(const std::string& path);

// `path` as one shell word, quoted only where it needs to be.
std::string ShellWord(const std::string& path);

} // namespace content
