// The magic numbers are those the formats start with: a tag or a frame
// header at byte 0, or a type at byte 8 of an IFF or RIFF file.
#include "Content.h"

#include <cstdio>
#include <cstring>

namespace content {

namespace {

bool StartsWith(const std::string& head, const char* magic, size_t at = 0) {
    const size_t n = std::strlen(magic);
    return head.size() >= at + n && head.compare(at, n, magic) == 0;
}

// An MPEG audio frame header: 11 sync bits, then a layer (bits 1-2 of the
// second byte) other than 0, which ADTS (AAC) uses.
bool MpegFrame(const std::string& head) {
    if (head.size() < 2)
        return false;
    const unsigned char a = static_cast<unsigned char>(head[0]);
    const unsigned char b = static_cast<unsigned char>(head[1]);
    return a == 0xFF && (b & 0xE0) == 0xE0 && (b & 0x06) != 0;
}

bool Adts(const std::string& head) {
    return head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0xFF &&
           (static_cast<unsigned char>(head[1]) & 0xF6) == 0xF0;
}

// Printable ASCII, white space and the bytes of UTF-8 beyond ASCII: no
// control character that a text does not hold.
bool Text(const std::string& head) {
    for (const char ch : head) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f')
            return false;
        if (c == 0x7F)
            return false;
    }
    return !head.empty();
}

std::string Id(const std::string& head, size_t at) {
    std::string id = head.substr(at, 4);
    for (char& c : id)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            c = '?';
    return "'" + id + "'";
}

} // namespace

std::optional<Kind> Identify(bool directory, const std::string& head, bool whole) {
    if (directory)
        return Kind{"a directory, not a WAV file", false};
    if (whole && head.empty())
        return Kind{"an empty file, not a WAV file", false};
    const bool riff =
        StartsWith(head, "RIFF") || StartsWith(head, "RF64") || StartsWith(head, "BW64");
    if (StartsWith(head, "ID3"))
        return Kind{"an MP3 file (it starts with an ID3 tag), not a WAV file", true};
    if (MpegFrame(head))
        return Kind{"an MP3 file (MPEG audio frames), not a WAV file", true};
    if (Adts(head))
        return Kind{"an AAC file (ADTS frames), not a WAV file", true};
    if (StartsWith(head, "OggS"))
        return Kind{"an Ogg file (Vorbis, Opus or FLAC audio), not a WAV file", true};
    if (StartsWith(head, "fLaC"))
        return Kind{"a FLAC file, not a WAV file", true};
    if (StartsWith(head, "FORM") && (StartsWith(head, "AIFF", 8) || StartsWith(head, "AIFC", 8)))
        return Kind{std::string(StartsWith(head, "AIFF", 8) ? "an AIFF" : "an AIFF-C") +
                        " file, not a WAV file",
                    true};
    if (riff && head.size() >= 12 && !StartsWith(head, "WAVE", 8))
        return Kind{"a RIFF file of type " + Id(head, 8) + ", not 'WAVE'", false};
    // A RIFF header cut short reads as text too.
    if (!riff && Text(head))
        return Kind{"a text file, not a WAV file", false};
    if (whole && head.size() < kSmallestWav)
        return Kind{"only " + std::to_string(head.size()) +
                        " bytes, too short for a WAV file, which takes at least " +
                        std::to_string(kSmallestWav),
                    false};
    return std::nullopt;
}

std::optional<std::string> CompressedFormat(int tag) {
    static const struct {
        int tag;
        const char* name;
    } kFormats[] = {
        {0x0002, "Microsoft ADPCM"},
        {0x0006, "A-law"},
        {0x0007, "mu-law"},
        {0x0011, "IMA ADPCM"},
        {0x0031, "GSM 6.10"},
        {0x0050, "MPEG audio"},
        {0x0055, "MP3"},
        {0x00FF, "AAC"},
        {0x1610, "AAC"},
        {0x2000, "AC-3"},
    };
    // PCM, float, and 0 for an EXTENSIBLE subformat not known.
    if (tag == 0 || tag == 1 || tag == 3)
        return std::nullopt;
    for (const auto& f : kFormats)
        if (f.tag == tag)
            return f.name;
    return std::string("compressed");
}

std::string ShellWord(const std::string& path) {
    constexpr const char* kPlain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                   "0123456789_@%+=:,./-";
    // A leading '-' would read as an option.
    const std::string word = !path.empty() && path[0] == '-' ? "./" + path : path;
    if (!word.empty() && word.find_first_not_of(kPlain) == std::string::npos)
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string FfmpegCommand(const std::string& path) {
    // "pipe:" is ffmpeg's name for standard input.
    const std::string in = path == "-" ? "pipe:" : ShellWord(path);
    return "ffmpeg -i " + in + " -c:a pcm_s16le OUT.wav";
}

} // namespace content
