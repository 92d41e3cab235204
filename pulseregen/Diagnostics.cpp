// Each explanation is built as a string first, so that the tests can read
// it without running the program; Say writes it as one line.
#include "Diagnostics.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace diag {

namespace {

constexpr int16_t kFormatPcm = 1;
constexpr int16_t kFormatFloat = 3;
constexpr int16_t kFormatExtensible = int16_t(0xFFFE);

std::string Prefix(const char* path) {
    return std::string("pulseregen: ") + path + ": ";
}

// A chunk id as text, any byte outside printable ASCII as \xNN.
std::string Quoted(const char id[4]) {
    std::string s = "'";
    for (int i = 0; i < 4; ++i) {
        const unsigned char c = static_cast<unsigned char>(id[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            s += char(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            s += hex;
        }
    }
    return s + "'";
}

std::string FormatName(int16_t tag) {
    switch (tag) {
    case kFormatPcm:
        return "PCM";
    case kFormatFloat:
        return "IEEE float";
    case kFormatExtensible:
        return "WAVE_FORMAT_EXTENSIBLE";
    default:
        return "format tag " + std::to_string(tag);
    }
}

std::string Convert(const char* path, bool mixDown) {
    return std::string("convert it with: sox ") + path + " -b 16 -e signed-integer " +
           (mixDown ? "-c 1 " : "") + "OUT.wav";
}

std::string Unsupported(const char* path, const CWave::tWaveFmtChunk& fmt) {
    const bool mixDown = fmt.formatTag == kFormatExtensible || fmt.channels > 2;
    return Prefix(path) + "unsupported format: " + std::to_string(fmt.bitsPerSample) + "-bit " +
           FormatName(fmt.formatTag) + ", " + std::to_string(fmt.channels) +
           " channel(s); 16-bit PCM is needed; " + Convert(path, mixDown);
}

std::string Percent(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

} // namespace

std::string InputRefusal(const char* path, const CWave& in, int result, int openErrno) {
    char id[4];
    const bool reachedChunk = in.GetStopChunkId(id);
    if (result == -1)
        return Unsupported(path, in.GetFormatChunk());
    if (result < 0)
        return Prefix(path) + "chunk " + Quoted(id) +
               " stands between the format and the data chunk; " + Convert(path, false);
    if (!reachedChunk) {
        if (openErrno != 0)
            return Prefix(path) + std::strerror(openErrno);
        return NotWave(path);
    }
    const CWave::tWaveFmtChunk& fmt = in.GetFormatChunk();
    if (std::memcmp(fmt.chunkId, "fmt ", 4) != 0)
        return Prefix(path) + "the first chunk is " + Quoted(fmt.chunkId) + ", not 'fmt '; " +
               Convert(path, false);
    if (std::memcmp(id, "data", 4) == 0)
        return Prefix(path) + "the data chunk holds no sample frames";
    return Prefix(path) + "no data chunk";
}

std::string NotWave(const char* path) {
    return Prefix(path) + "not a RIFF/WAVE file";
}

std::string CutShort(const char* path, uint64_t bytes) {
    return Prefix(path) + "longer than a RIFF file can be: only its first " +
           std::to_string(bytes) + " bytes are read";
}

std::string RateWarning(const char* path, uint32_t rate) {
    constexpr double kOutputRate = 44100;
    if (rate == uint32_t(kOutputRate))
        return "";
    const std::string keep = "; --keep-rate keeps the input's rate";
    if (rate == 0)
        return Prefix(path) + "the input declares a sample rate of 0 Hz" + keep;
    const std::string head = Prefix(path) + "sampled at " + std::to_string(rate) +
                             " Hz, the output is labelled 44100 Hz and plays ";
    if (rate > kOutputRate)
        return head + Percent((rate / kOutputRate - 1) * 100) + "% slower" + keep;
    const double faster = kOutputRate / rate;
    if (faster >= 2)
        return head + Percent(faster) + " times too fast" + keep;
    return head + Percent((faster - 1) * 100) + "% faster" + keep;
}

std::string NoActiveBlock(const char* path, int peak, int activeAbove) {
    return Prefix(path) + "no block is active: the loudest magnitude is " + std::to_string(peak) +
           ", the active level " + std::to_string(activeAbove) +
           "; for a quiet recording try --active=30% --switch=25%";
}

std::string AutoChoice(const char* path, uint32_t rate, const char* channel, int activeAbove,
                       int switchAbove, int window) {
    return Prefix(path) + "--auto chose --keep-rate (" + std::to_string(rate) +
           " Hz) --channel=" + channel + " --active=" + std::to_string(activeAbove) +
           " --switch=" + std::to_string(switchAbove) + " --baseline=" + std::to_string(window);
}

std::string AutoHint(const char* path, const std::vector<std::string>& signs) {
    std::string line = Prefix(path);
    for (size_t i = 0; i < signs.size(); ++i)
        line += (i ? ", " : "") + signs[i];
    return line +
           "; try --auto, which chooses rate, channel, levels and baseline from the recording";
}

std::string ShortData(const char* path, uint64_t declared, uint64_t held) {
    return Prefix(path) + "the data chunk declares " + std::to_string(declared) +
           " frames but the file ends after " + std::to_string(held) +
           "; the rest reads as silence";
}

std::string Failure(const char* path, int error) {
    return Prefix(path) + std::strerror(error ? error : EIO);
}

void Say(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

} // namespace diag
