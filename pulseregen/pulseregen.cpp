// pulseregen [OPTION]... INPUT OUTPUT: finds the loud span of a 16-bit PCM
// WAV recording and writes it, regenerated as a clean square wave and
// followed by a fade-out block, to a 16-bit mono WAV file (44.1 kHz unless
// asked to keep the input's rate).
#include "Diagnostics.h"
#include "Options.h"
#include "Regen.h"
#include "Wave.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

enum Status { kOk = 0, kFailed = 1, kUsage = 2 };

// Help, version and bad usage end the run before any file is touched.
int Finish(const options::Options& opt, const char* program) {
    switch (opt.action) {
    case options::Action::kHelp:
        options::PrintHelp(program);
        return kOk;
    case options::Action::kVersion:
        options::PrintVersion();
        return kOk;
    default:
        options::PrintUsage(program);
        diag::Say("pulseregen: " + opt.error);
        return kUsage;
    }
}

void PrintVerdicts(const std::vector<unsigned char>& active) {
    for (size_t b = 1; b < active.size(); ++b)
        printf("%zu: %s\n", b, active[b] ? "Valid" : "Invalid");
}

// An output that could not be written whole would still claim, in its
// header, samples it does not hold. A regular file is removed; a device or a
// pipe (/dev/full, say) is left alone.
void DiscardOutput(const char* path) {
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISREG(st.st_mode))
        unlink(path);
}

// The report on standard output is part of the result: losing it is a failure.
int CloseStdout(int status) {
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "pulseregen: cannot write to standard output\n");
        return kFailed;
    }
    return status;
}

// 16-bit mono at 44,100 Hz, or at the input's rate when it is to be kept.
CWave::tOutputWaveFormat OutputFormat(const options::Options& opt, const CWave& in) {
    CWave::tOutputWaveFormat format = regen::kOutputFormat;
    const uint32_t rate = in.GetFormatChunk().sampleRate;
    if (opt.keepRate)
        format.samplingRate = int32_t(rate);
    return format;
}

// An output labelled with another rate than its input's plays at another speed.
void WarnAboutRate(const options::Options& opt, const CWave& in,
                   const CWave::tOutputWaveFormat& format) {
    const uint32_t rate = in.GetFormatChunk().sampleRate;
    if (rate != uint32_t(format.samplingRate))
        diag::Say(diag::RateWarning(opt.input, rate));
}

// The activity pass. With a sample-value level each verdict is printed as
// its block is judged, and a block's examination can stop at the first
// sample beyond it (the loudest magnitude, reported when no block is
// active, is then still exact); a percentage waits for the recording's
// exact peak.
regen::Scan JudgeBlocks(CWave& in, short* block, int blocks, options::Options& opt) {
    const bool printNow = !opt.quiet && !opt.active.percent;
    const int activeAbove = opt.active.value;
    const bool exact = opt.active.percent || opt.switchAt.percent;
    regen::Scan scan =
        regen::ScanActivity(in, block, blocks, opt.settings.channel,
                            exact ? regen::kExactPeaks : activeAbove, [&](int b, int peak) {
                                if (printNow)
                                    printf("%d: %s\n", b, peak > activeAbove ? "Valid" : "Invalid");
                            });
    opt.settings.activeAbove = opt.active.Resolve(scan.peak);
    opt.settings.switchAbove = opt.switchAt.Resolve(scan.peak);
    if (scan.ended)
        diag::Say(diag::ShortData(opt.input, uint64_t(in.GetSampleLength()), scan.framesRead));
    return scan;
}

} // namespace

int main(int argc, char* argv[]) {
    const char* program = argc > 0 ? argv[0] : "pulseregen";
    options::Options opt = options::Parse(argc, argv);
    // Creating the output would truncate an input that is the same file.
    if (opt.action == options::Action::kRun && regen::SameFile(opt.input, opt.output)) {
        opt.action = options::Action::kUsage;
        opt.error = "INPUT and OUTPUT are the same file";
    }
    if (opt.action != options::Action::kRun)
        return CloseStdout(Finish(opt, program));

    CWave in;
    CWave out;
    std::vector<short> block(regen::kBlockFrames);

    errno = 0;
    const int length = in.OpenWave(opt.input);
    if (length <= 0) {
        const int openErrno = errno;
        printf("Error: Input file can't open [%d]\n", length);
        diag::Say(diag::InputRefusal(opt.input, in, length, openErrno));
        return CloseStdout(kFailed);
    }
    CWave::tOutputWaveFormat format = OutputFormat(opt, in);
    if (out.OutputWave(opt.output, &format) != 0) {
        puts("Error: Output file can't open");
        return CloseStdout(kFailed);
    }
    WarnAboutRate(opt, in, format);

    if (!opt.quiet)
        printf("Input Length = %d samples\n", in.GetSampleLength());
    const int blocks = in.GetSampleLength() / regen::kBlockFrames;
    const regen::Scan scan = JudgeBlocks(in, block.data(), blocks, opt);
    const std::vector<unsigned char> active = regen::Judge(scan.peaks, opt.settings.activeAbove);
    if (!opt.quiet && opt.active.percent)
        PrintVerdicts(active);

    const regen::Span span = regen::FindSpan(active);
    if (span.first < 0 && blocks > 1)
        diag::Say(diag::NoActiveBlock(opt.input, scan.peak, opt.settings.activeAbove));
    const short level = regen::RegenerateSpan(in, out, block.data(), blocks, span, opt.settings);
    regen::AppendFade(out, block.data(), level);
    if (out.OutputWaveFinalize() != 0) {
        DiscardOutput(opt.output);
        puts("Error: Output file can't write");
        return CloseStdout(kFailed);
    }
    return CloseStdout(kOk);
}
