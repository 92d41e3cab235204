// pulseregen [OPTION]... INPUT OUTPUT: finds the loud span of a 16-bit PCM
// WAV recording (any WAV with --any-wav) and writes it, regenerated as a
// clean square wave and followed by a fade-out block, to a 16-bit mono WAV
// file (44.1 kHz unless asked to keep the input's rate).
#include "Auto.h"
#include "Diagnostics.h"
#include "Input.h"
#include "Options.h"
#include "OutputFile.h"
#include "Regen.h"
#include "Wave.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <string>
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

void PrintVerdict(size_t block, bool valid) {
    printf("%zu: %s\n", block, valid ? "Valid" : "Invalid");
}

void PrintVerdicts(const std::vector<unsigned char>& active, size_t from = 1) {
    for (size_t b = from; b < active.size(); ++b)
        PrintVerdict(b, active[b]);
}

// The reason behind a failure, on standard error; the report on standard
// output stays as it is.
int Explain(const char* file, int error) {
    diag::Say(diag::Failure(file, error));
    return kFailed;
}

// Descriptors 0, 1 and 2 left closed by the caller are filled with
// /dev/null, so that no file this run opens takes their place. It is opened
// the other way round, so that reading or writing one still fails as it
// would have.
void FillStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0)
            open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
}

// Makes the input readable, or says why it cannot be: 0, or Prepare's result.
int OpenInput(regen::Input& input, const char* arg) {
    const int error = input.Prepare(arg);
    if (error != 0) {
        puts("Error: Input file can't open [0]");
        diag::Say(error == regen::Input::kNotWave ? diag::NotWave(arg)
                                                  : diag::Failure(input.Culprit().c_str(), error));
    } else if (input.Cut()) {
        diag::Say(diag::CutShort(arg, regen::kRiffMaxBytes));
    }
    return error;
}

// 0, or the errno that refused the output.
int OpenOutput(regen::OutputFile& file, CWave& out, const char* path,
               CWave::tOutputWaveFormat format) {
    if (const int error = file.Prepare(path))
        return error;
    const int fd = file.Descriptor();
    if ((fd >= 0 ? out.OutputWaveFd(fd, &format) : out.OutputWave(path, &format)) != 0)
        return out.GetWriteErrno() ? out.GetWriteErrno() : EIO;
    file.Opened();
    return 0;
}

// Finalises the output and installs it; 0 or the errno of the failure.
int FinishOutput(regen::OutputFile& file, CWave& out) {
    if (out.OutputWaveFinalize() != 0)
        return out.GetWriteErrno() ? out.GetWriteErrno() : EIO;
    return file.Commit();
}

// The report on standard output is part of the result: losing it is a failure.
int CloseStdout(int status) {
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "pulseregen: cannot write to standard output\n");
        return kFailed;
    }
    return status;
}

CWave::tOpenMode ReadMode(const options::Options& opt) {
    return opt.anyWav ? CWave::kOpenAnyWav : CWave::kOpenPcm16;
}

// Why the input was refused, and what reads it: without --any-wav, the file
// is opened again with it to see whether it would.
std::string ExplainRefusal(const options::Options& opt, const regen::Input& input,
                           const CWave& in) {
    if (opt.anyWav)
        return diag::InputRefusal(opt.input, in, nullptr);
    CWave anyWav;
    input.Open(anyWav, CWave::kOpenAnyWav);
    return diag::InputRefusal(opt.input, in, &anyWav);
}

// A header written before the length was known claims more than the file
// holds; the length read is what it holds.
void WarnAboutLength(const options::Options& opt, CWave& in) {
    if (in.GetDeclaredLength() > uint64_t(in.GetSampleLength()))
        diag::Say(diag::LengthFromFile(opt.input, in.GetDeclaredLength(),
                                       uint64_t(in.GetSampleLength())));
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
// exact peak. Empty when the input cannot be positioned at its first sample.
std::optional<regen::Scan> JudgeBlocks(CWave& in, short* block, int blocks, options::Options& opt) {
    const bool printNow = !opt.quiet && !opt.active.percent;
    const int activeAbove = opt.active.value;
    const bool exact = opt.active.percent || opt.switchAt.percent;
    std::optional<regen::Scan> scan =
        regen::ScanActivity(in, block, blocks, opt.settings.channel,
                            exact ? regen::kExactPeaks : activeAbove, [&](int b, int peak) {
                                if (printNow)
                                    PrintVerdict(size_t(b), peak > activeAbove);
                            });
    if (!scan)
        return scan;
    opt.settings.activeAbove = opt.active.Resolve(scan->peak);
    opt.settings.switchAbove = opt.switchAt.Resolve(scan->peak);
    if (scan->ended)
        diag::Say(diag::ShortData(opt.input, uint64_t(in.GetSampleLength()), scan->framesRead));
    return scan;
}

// What the activity pass decided: the span to regenerate, and the baseline
// window to take out of it first (0 for none).
struct Plan {
    std::vector<unsigned char> active;
    regen::Span span;
    int window = regen::kNoWindow;
};

std::optional<Plan> PlanByPeaks(CWave& in, short* block, int blocks, options::Options& opt) {
    const std::optional<regen::Scan> scan = JudgeBlocks(in, block, blocks, opt);
    if (!scan)
        return std::nullopt;
    Plan plan;
    plan.active = regen::Judge(scan->peaks, opt.settings.activeAbove);
    if (!opt.quiet && opt.active.percent)
        PrintVerdicts(plan.active);
    plan.span = regen::FindSpan(plan.active);
    if (plan.span.first < 0 && blocks > 1)
        diag::Say(diag::NoActiveBlock(opt.input, scan->peak, opt.settings.activeAbove));
    plan.window = opt.baseline > 0 ? opt.baseline : regen::kNoWindow;
    return plan;
}

// --auto: every block is judged, block 0 and the trailing part block too, by
// its swings; what no option named is chosen from the recording, said in
// one line, and the span widened by a block at each end.
std::optional<Plan> PlanBySwings(CWave& in, short* block, options::Options& opt) {
    const std::optional<regen::Channel> named =
        opt.channelGiven ? std::optional<regen::Channel>(opt.settings.channel) : std::nullopt;
    const std::optional<regen::SwingScan> scan = regen::ScanSwings(in, block, named);
    if (!scan)
        return std::nullopt;
    if (!named && scan->channels == 2)
        opt.settings.channel = regen::ChooseChannel(scan->blocks);
    const regen::Channel channel = opt.settings.channel;
    const int swing = regen::LoudSwing(scan->blocks, channel);
    const int largest = regen::LargestSwing(scan->blocks, channel);
    opt.settings.activeAbove =
        opt.activeGiven ? opt.active.Resolve(largest) : regen::ActiveLevelFor(swing);
    opt.settings.switchAbove =
        opt.switchGiven ? opt.switchAt.Resolve(largest) : regen::SwitchLevelFor(swing);
    if (scan->ended)
        diag::Say(diag::ShortData(opt.input, uint64_t(in.GetSampleLength()), scan->framesRead));
    Plan plan;
    plan.active = regen::JudgeSwings(scan->blocks, channel, opt.settings.activeAbove);
    if (!opt.quiet)
        PrintVerdicts(plan.active, 0);
    plan.span = regen::Widen(regen::FindSpan(plan.active), int64_t(plan.active.size()));
    std::optional<int> window = opt.baseline;
    if (opt.baseline < 0)
        window = regen::ProbeWindow(in, plan.active, channel, opt.settings.switchAbove);
    if (!window)
        return std::nullopt;
    plan.window = *window;
    diag::Say(diag::AutoChoice(opt.input, in.GetFormatChunk().sampleRate,
                               options::ChannelName(channel), opt.settings.activeAbove,
                               opt.settings.switchAbove, plan.window));
    return plan;
}

// A block swings past the switch when this many of its samples lie beyond
// each threshold: a pulse train puts thousands there, stray noise peaks few.
constexpr int kSwungPast = regen::kBlockFrames / 64;

// Ends a run without --auto that shows the signs that the fixed choices do
// not fit the recording with one line suggesting it.
void SuggestAuto(CWave& in, const options::Options& opt, const Plan& plan,
                 const std::vector<regen::Crossings>& crossings) {
    std::vector<std::string> signs;
    if (plan.span.first < 0)
        signs.push_back("no block is active");
    int active = 0, short_ = 0;
    for (size_t i = 0; i < crossings.size(); ++i) {
        if (!plan.active[size_t(plan.span.first) + i])
            continue;
        ++active;
        short_ += crossings[i].above < kSwungPast || crossings[i].below < kSwungPast;
    }
    if (2 * short_ > active)
        signs.push_back("most active blocks do not swing past the switch level +-" +
                        std::to_string(opt.settings.switchAbove));
    const uint32_t rate = in.GetFormatChunk().sampleRate;
    if (!opt.keepRate && rate != uint32_t(regen::kOutputFormat.samplingRate))
        signs.push_back("sampled at " + std::to_string(rate) + " Hz");
    if (!opt.channelGiven) {
        const std::optional<regen::Channel> widest = regen::SampleWidest(in);
        if (widest && *widest != regen::Channel::kMix)
            signs.push_back(std::string("the mix is much weaker than the ") +
                            options::ChannelName(*widest) + " signal");
    }
    if (!signs.empty())
        diag::Say(diag::AutoHint(opt.input, signs));
}

} // namespace

int main(int argc, char* argv[]) {
    const char* program = argc > 0 ? argv[0] : "pulseregen";
    FillStandardDescriptors();
    // A reader of standard output that goes away (| head -1) must not end the
    // run before the output is installed; the lost report fails it at the end.
    signal(SIGPIPE, SIG_IGN);
    // An output beyond the file size limit (ulimit -f) is a failed write,
    // cleaned up like any other, rather than the end of the process.
    signal(SIGXFSZ, SIG_IGN);
    options::Options opt = options::Parse(argc, argv);
    // An output copied over the file it replaces would destroy an input that
    // is the same file.
    if (opt.action == options::Action::kRun && regen::SameFile(opt.input, opt.output)) {
        opt.action = options::Action::kUsage;
        opt.error = "INPUT and OUTPUT are the same file";
    }
    if (opt.action != options::Action::kRun)
        return CloseStdout(Finish(opt, program));

    regen::Input input;
    regen::OutputFile output; // declared before `out`, which closes first
    CWave in;
    CWave out;
    std::vector<short> block(regen::kBlockFrames);

    if (OpenInput(input, opt.input) != 0)
        return CloseStdout(kFailed);
    const int length = input.Open(in, ReadMode(opt));
    if (length <= 0) {
        printf("Error: Input file can't open [%d]\n", length);
        diag::Say(ExplainRefusal(opt, input, in));
        return CloseStdout(kFailed);
    }
    const CWave::tOutputWaveFormat format = OutputFormat(opt, in);
    if (const int error = OpenOutput(output, out, opt.output, format)) {
        puts("Error: Output file can't open");
        return CloseStdout(Explain(output.Culprit(), error));
    }
    WarnAboutRate(opt, in, format);
    WarnAboutLength(opt, in);

    if (!opt.quiet)
        printf("Input Length = %d samples\n", in.GetSampleLength());
    const int blocks = in.GetSampleLength() / regen::kBlockFrames;
    const std::optional<Plan> plan = opt.automatic ? PlanBySwings(in, block.data(), opt)
                                                   : PlanByPeaks(in, block.data(), blocks, opt);
    if (!plan)
        return CloseStdout(Explain(opt.input, errno));

    std::vector<regen::Crossings> crossings;
    const std::optional<short> level =
        opt.automatic || plan->window > 0
            ? regen::RegenerateTracked(in, out, plan->span, plan->window, opt.settings)
            : regen::RegenerateSpan(in, out, block.data(), blocks, plan->span, opt.settings,
                                    &crossings);
    if (!level)
        return CloseStdout(Explain(opt.input, errno));
    regen::AppendFade(out, block.data(), *level);
    if (const int error = FinishOutput(output, out)) {
        puts("Error: Output file can't write");
        return CloseStdout(Explain(output.Culprit(), error));
    }
    if (!opt.automatic)
        SuggestAuto(in, opt, *plan, crossings);
    return CloseStdout(kOk);
}
