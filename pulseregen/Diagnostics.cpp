// Each explanation is built as a string first, so that the tests can read
// it without running the program; Say writes it as one line.
#include "Diagnostics.h"

#include "Content.h"
#include "Settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace diag {

namespace {

constexpr const char* kNotWave = "not a RIFF/WAVE file";

std::string Prefix(const char* path) {
    return std::string(kProgram) + ": " + path + ": ";
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

std::string EncodingName(int16_t encoding) {
    switch (encoding) {
    case CWave::kEncodingPcm:
        return "PCM";
    case CWave::kEncodingFloat:
        return "IEEE float";
    case 0:
        return "of an unknown subformat";
    default:
        return "format tag " + std::to_string(encoding);
    }
}

// Samples that fill only part of their containers, which sox misreads or
// refuses: no conversion by it is offered.
bool Padded(const CWave::tSampleFormat& f) {
    return f.containerBits > (f.bits + 7) / 8 * 8 || (f.extensible && f.bits < f.containerBits);
}

std::string Describe(const CWave::tSampleFormat& f) {
    if (const std::optional<std::string> name = content::CompressedFormat(f.encoding)) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "0x%04X", unsigned(uint16_t(f.encoding)));
        return *name + " audio inside a WAV file (format tag " + tag + "), " +
               std::to_string(f.channels) + " channel(s)";
    }
    std::string s = std::to_string(f.bits) + "-bit " +
                    (f.extensible ? "WAVE_FORMAT_EXTENSIBLE " : "") + EncodingName(f.encoding);
    if (Padded(f))
        s += " in " + std::to_string(f.containerBits) + "-bit containers";
    return s + ", " + std::to_string(f.channels) + " channel(s)";
}

// The sox command that writes the file as 16-bit PCM, keeping its channels:
// sox writes more than two as WAVE_FORMAT_EXTENSIBLE unless told wavpcm.
// `ignoreLength` reads the samples to the end of a file whose header gives
// no length.
std::string SoxCommand(const char* path, const CWave::tSampleFormat& f, bool ignoreLength) {
    const std::string in = std::string(path) == "-" ? "-t wav -" : content::ShellWord(path);
    return std::string("sox ") + (ignoreLength ? "--ignore-length " : "") + in +
           (f.channels > 2 ? " -t wavpcm" : "") + " -b 16 -e signed-integer OUT.wav";
}

// The format as far as it is known: in full from the any-WAV reading, once
// that reached a format chunk.
const CWave::tSampleFormat& FormatOf(const CWave& in, const CWave& full) {
    return std::memcmp(full.GetFormatChunk().chunkId, "fmt ", 4) == 0 ? full.GetSampleFormat()
                                                                      : in.GetSampleFormat();
}

// What the reader found wrong; empty for the reasons that need no more
// than the advice.
std::string Reason(const CWave& in, const CWave::tSampleFormat& f, bool anyWavMode) {
    char id[4] = {};
    in.GetStopChunkId(id);
    switch (in.GetOpenStatus()) {
    case CWave::kCannotOpen:
        return std::strerror(in.GetOpenErrno() ? in.GetOpenErrno() : EIO);
    case CWave::kNotWave:
        return kNotWave;
    case CWave::kRf64:
        return "an RF64 file";
    case CWave::kFirstChunkNotFmt:
        return "the first chunk is " + Quoted(id) + ", not 'fmt '";
    case CWave::kUnsupportedFormat:
        return "unsupported format: " + Describe(f) + "; " +
               (anyWavMode ? "integer PCM of up to 32 bits or float of 32 or 64 bits"
                           : "16-bit PCM") +
               " is needed";
    case CWave::kChunkBeforeData:
        return "chunk " + Quoted(id) + " stands between the format and the data chunk";
    case CWave::kNoFormatChunk:
        return "no format chunk before the data chunk";
    case CWave::kNoDataChunk:
        return "no data chunk";
    case CWave::kUnknownLength:
        return "";
    default:
        return "the data chunk holds no sample frames";
    }
}

std::string Percent(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

} // namespace

std::string InputRefusal(const char* path, const CWave& in, const CWave* anyWav) {
    const CWave& full = anyWav ? *anyWav : in;
    const CWave::tSampleFormat& f = FormatOf(in, full);
    // A header that gives no length stops --any-wav too; sox reads such a
    // file to its end when told to.
    if (in.GetOpenStatus() == CWave::kUnknownLength ||
        full.GetOpenStatus() == CWave::kUnknownLength)
        return Prefix(path) +
               "the data chunk declares 0 bytes, as a header written to a pipe does, so it does "
               "not tell the length; write the recording to a file instead of a pipe" +
               (Padded(f) ? "" : ", or convert it with: " + SoxCommand(path, f, true));
    std::string line = Prefix(path) + Reason(in, f, anyWav == nullptr);
    const CWave::tOpenStatus why = in.GetOpenStatus();
    // One remedy: --any-wav where it reads the file, else a conversion that
    // reads it (ffmpeg for compressed audio, which Debian's sox does not
    // decode inside a WAV file).
    if (anyWav && anyWav->GetOpenStatus() == CWave::kOpened)
        return line + "; run with --any-wav to read it";
    if (why == CWave::kUnsupportedFormat && content::CompressedFormat(f.encoding))
        return line + "; convert it with: " + content::FfmpegCommand(path);
    const bool soxReads = why == CWave::kRf64 || why == CWave::kFirstChunkNotFmt ||
                          why == CWave::kUnsupportedFormat || why == CWave::kChunkBeforeData;
    if (soxReads && !Padded(f))
        line += "; convert it with: " + SoxCommand(path, f, false);
    return line;
}

std::string LengthFromFile(const char* path, uint64_t declared, uint64_t held, uint64_t trailing) {
    const std::string chunks = trailing == 0 ? ""
                                             : ", the last " + std::to_string(trailing) +
                                                   " bytes taken for chunks after the data";
    return Prefix(path) + "the data chunk declares " + std::to_string(declared) +
           " frames but the file ends after " + std::to_string(held) +
           " (a header written before the length was known, as to a pipe); reading those" + chunks;
}

std::string NotWave(const char* path, const std::optional<content::Kind>& kind) {
    if (!kind)
        return Prefix(path) + kNotWave;
    return Prefix(path) + kind->what +
           (kind->audio ? "; convert it with: " + content::FfmpegCommand(path) : "");
}

std::string CutShort(const char* path, uint64_t bytes) {
    return Prefix(path) + "longer than a RIFF file can be: only its first " +
           std::to_string(bytes) + " bytes are read";
}

std::string RateWarning(const char* path, uint32_t rate) {
    const int32_t labelled = regen::kOutputFormat.samplingRate;
    const double outputRate = labelled;
    if (rate == uint32_t(labelled))
        return "";
    const std::string keep = "; --keep-rate keeps the input's rate";
    if (rate == 0)
        return Prefix(path) + "the input declares a sample rate of 0 Hz" + keep;
    const std::string head = Prefix(path) + "sampled at " + std::to_string(rate) +
                             " Hz, the output is labelled " + std::to_string(labelled) +
                             " Hz and plays ";
    if (rate > outputRate)
        return head + Percent((rate / outputRate - 1) * 100) + "% slower" + keep;
    const double faster = outputRate / rate;
    if (faster >= 2)
        return head + Percent(faster) + " times too fast" + keep;
    return head + Percent((faster - 1) * 100) + "% faster" + keep;
}

std::string NoActiveBlock(const char* path, int peak, int activeAbove) {
    return Prefix(path) + "no block is active: the loudest magnitude is " + std::to_string(peak) +
           ", the active level " + std::to_string(activeAbove);
}

std::string NothingFound(const char* path, bool silence, int activeAbove, int switchAbove) {
    const std::string why = silence
                                ? "silence: no block swings past +-" + std::to_string(activeAbove)
                                : "noise: the flips at +-" + std::to_string(switchAbove) +
                                      " come at no stable pulse widths";
    return Prefix(path) + "no pulse train found (" + why + "); nothing written";
}

std::string AutoChoice(const char* path, uint32_t rate, int resampled, const char* channel,
                       int activeAbove, int switchAbove, int window, int smooth, int follow,
                       bool timed, int bandLow, int bandHigh, int carrier,
                       const std::string& pair) {
    // The options as they paste into a shell; the rate as a comment.
    return Prefix(path) + "--auto chose --keep-rate" +
           (resampled > 0 ? " --rate=" + std::to_string(resampled) : std::string()) +
           " --channel=" + channel + " --active=" + std::to_string(activeAbove) +
           " --switch=" + std::to_string(switchAbove) + " --baseline=" + std::to_string(window) +
           " --smooth=" + std::to_string(smooth) + " --follow=" + std::to_string(follow) +
           (bandLow > 0 || bandHigh > 0
                ? " --band=" + std::to_string(bandLow) + "-" + std::to_string(bandHigh)
                : std::string()) +
           (carrier > 0 ? " --carrier=" + std::to_string(carrier) : std::string()) + pair +
           (timed ? " --edges=timed" : " --edges=sharp") + " # " + std::to_string(rate) + " Hz";
}

std::string CannotResample(const char* path, uint32_t rate, int lowest, int highest) {
    return Prefix(path) + "cannot resample from the declared " + std::to_string(rate) +
           " Hz: --rate takes recordings of " + std::to_string(lowest) + " to " +
           std::to_string(highest) + " Hz";
}

std::string ShortOfGivenSwitch(const char* path, int switchAbove) {
    return Prefix(path) + "most active blocks do not swing past the switch level +-" +
           std::to_string(switchAbove) + " that --switch gave";
}

std::string PairChoice(double lag, int balance) {
    char text[64];
    snprintf(text, sizeof text, " --lag=%.1f --balance=%d", lag, balance);
    return text;
}

std::string Drowned(const char* path, int noise, int height) {
    return Prefix(path) + "the noise on the pulses' flat tops (" + std::to_string(noise) +
           ", one standard deviation) is more than a sixth of their height (" +
           std::to_string(height) +
           "): no gap keeps it out and lets short pulses through; the raw recording may "
           "decode better";
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

void Complain(const std::string& what) {
    Say(std::string(kProgram) + ": " + what);
}

} // namespace diag
