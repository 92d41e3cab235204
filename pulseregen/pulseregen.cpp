// pulseregen [OPTION]... INPUT OUTPUT: finds the loud span of a 16-bit PCM
// WAV recording (any WAV with --any-wav) and writes it, regenerated as a
// clean square wave and followed by a fade-out block, to a 16-bit mono WAV
// file (44.1 kHz unless asked to keep the input's rate).
#include "Content.h"
#include "Diagnostics.h"
#include "Held.h"
#include "Input.h"
#include "Judged.h"
#include "Options.h"
#include "OutputFile.h"
#include "Passes.h"
#include "Plan.h"
#include "PulseTrain.h"
#include "Resample.h"
#include "Settings.h"
#include "Temporary.h"
#include "Wave.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Help, version and bad usage end the run before any file is touched. The
// usage text speaks of the files only: a wrong option or value gets its
// reason alone, and every refusal points to --help.
int AnswerHelpVersionOrUsage(const options::Options& opt, const char* program) {
    switch (opt.action) {
    case options::Action::kHelp:
        options::PrintHelp(program);
        return options::kExitOk;
    case options::Action::kVersion:
        options::PrintVersion();
        return options::kExitOk;
    default:
        if (opt.action == options::Action::kUsage)
            options::PrintUsage(program);
        diag::Complain(opt.usageError);
        diag::Say(options::TryHelp(program));
        return options::kExitUsage;
    }
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

// What the program prints is part of its result: a standard output that did
// not take it fails the run.
int CloseStdout(int status) {
    if (fflush(stdout) != 0 || ferror(stdout)) {
        diag::Complain("cannot write to standard output");
        return options::kExitFailed;
    }
    return status;
}

// A reader of standard output that goes away (| head -1) must not end the
// run before the output is installed; the lost report fails it at the end.
// An output beyond the file size limit (ulimit -f) is a failed write,
// cleaned up like any other, rather than the end of the process.
void IgnoreSignalsOfFailedWrites() {
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

// An output copied over the file it replaces would destroy an input that is
// the same file.
options::Options RefuseSameFile(options::Options opt) {
    if (opt.action == options::Action::kRun && files::SameFile(opt.input, opt.output)) {
        opt.action = options::Action::kUsage;
        opt.usageError = "INPUT and OUTPUT are the same file";
    }
    return opt;
}

// The reason behind a failure, on standard error; the report on standard
// output stays as it is.
int Explain(const char* file, int error) {
    diag::Say(diag::Failure(file, error));
    return options::kExitFailed;
}

// What a stream refused by its first bytes, or a file that is no WAV file,
// holds: a directory, a text, audio of another container.
std::optional<content::Kind> Identify(const files::Input& input, bool refusedStream) {
    if (input.IsDirectory())
        return content::Identify(true, "", false);
    const std::optional<std::string> head = input.Head(content::kHeadBytes);
    if (!head)
        return std::nullopt; // the reader says why it cannot be read
    return content::Identify(
        false, *head, !refusedStream && !input.Stopped() && head->size() < content::kHeadBytes);
}

// Makes the input readable, or says why it cannot be: 0, or Prepare's result.
int OpenInput(files::Input& input, const char* arg, bool once) {
    const int error = input.Prepare(arg, once);
    if (error != 0) {
        puts("Error: Input file can't open [0]");
        diag::Say(error == files::Input::kNotWave ? diag::NotWave(arg, Identify(input, true))
                                                  : diag::Failure(input.Culprit().c_str(), error));
    } else if (input.Cut()) {
        diag::Say(diag::CutShort(arg, files::kRiffMaxBytes));
    }
    return error;
}

// 0, or the errno that refused the output.
int OpenOutput(files::OutputFile& file, CWave& out, const char* path,
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
int FinishOutput(files::OutputFile& file, CWave& out) {
    if (out.OutputWaveFinalize() != 0)
        return out.GetWriteErrno() ? out.GetWriteErrno() : EIO;
    return file.Commit();
}

CWave::tOpenMode ReadMode(const options::Options& opt) {
    return opt.anyWav ? CWave::kOpenAnyWav : CWave::kOpenPcm16;
}

// OpenWave on what Input::Prepare made readable, in `mode`; its results. A
// stream read as it comes can be read `again` only as far as its head.
int OpenWaveOn(const files::Input& input, CWave& in, CWave::tOpenMode mode, bool again = false) {
    if (input.Streamed()) {
        const std::string& head = input.StreamHead();
        const int fd = input.StreamGoesOn() && !again ? input.Descriptor() : -1;
        return in.OpenWaveFd(fd, mode, head.data(), head.size());
    }
    const int fd = input.Descriptor();
    return fd < 0 ? in.OpenWave(input.Path().c_str(), mode) : in.OpenWaveFd(fd, mode);
}

// Why the input was refused, and what reads it: without --any-wav, the file
// is opened again with it to see whether it would.
std::string ExplainRefusal(const options::Options& opt, const files::Input& input,
                           const CWave& in) {
    if (opt.anyWav)
        return diag::InputRefusal(opt.input, in, nullptr);
    CWave anyWav;
    OpenWaveOn(input, anyWav, CWave::kOpenAnyWav, true);
    return diag::InputRefusal(opt.input, in, &anyWav);
}

// A header written before the length was known claims more than the file
// holds; the length read is what it holds.
void WarnAboutLength(const options::Options& opt, CWave& in) {
    if (in.GetDeclaredLength() > uint64_t(in.GetSampleLength()))
        diag::Say(diag::LengthFromFile(opt.input, in.GetDeclaredLength(),
                                       uint64_t(in.GetSampleLength()), in.GetTrailingBytes()));
}

// The rates a recording can be resampled from, as to.
bool Resamplable(uint32_t rate) {
    return rate >= uint32_t(options::kMinRate) && rate <= uint32_t(options::kMaxRate);
}

// --auto regenerates a recording made at a lower rate at the rate the
// default run declares. At a low rate a square wave's harmonics fold back
// into the signal's band (at 11,025 Hz the fifth harmonic of a 2,200 Hz
// tone lands at 25 Hz, the third at 4,425 Hz), and pulses and tones of two
// or three frames are too coarse to measure their lengths by.
int RateFor(const options::Options& opt, const CWave& in) {
    const uint32_t rate = in.GetFormatChunk().sampleRate,
                   target = regen::kOutputFormat.samplingRate;
    if (opt.rate > 0 || !opt.automatic || !Resamplable(rate) || rate >= target)
        return opt.rate;
    return int(target);
}

// The header CWave writes before the samples.
constexpr uint64_t kCopyHeaderBytes = 44;

// An errno from a writer or reader that may have none to give.
int Or(int error) {
    return error != 0 ? error : EIO;
}

// Writes the recording at `rate` Hz to `fd` and reads that in its place.
int CopyAndReopen(const options::Options& opt, CWave& in, int rate, bool streamed, int fd,
                  const char*& culprit) {
    const int channels = in.GetFormatChunk().channels == 2 ? 2 : 1;
    CWave copy;
    CWave::tOutputWaveFormat format{rate, 2, channels};
    if (copy.OutputWaveFd(fd, &format) != 0)
        return Or(copy.GetWriteErrno());
    // The copy is a RIFF file, whose sizes end at 4 GiB.
    const uint64_t most = (files::kRiffMaxBytes - kCopyHeaderBytes) / uint64_t(2 * channels);
    // A file's length is known: one too long is refused before any of it is
    // copied. A stream's shows as the copy grows.
    const uint32_t from = in.GetFormatChunk().sampleRate;
    if (!streamed &&
        regen::ResampledFrames(uint64_t(in.GetSampleLength()), int(from), rate) > most) {
        culprit = opt.input;
        return EFBIG;
    }
    const bool whole = regen::CopyResampled(in, copy, rate, most);
    WarnAboutLength(opt, in);
    if (const int error = in.GetReadErrno()) {
        culprit = opt.input;
        return error;
    }
    if (!whole) {
        culprit = opt.input;
        return EFBIG;
    }
    if (copy.OutputWaveFinalize() != 0)
        return Or(copy.GetWriteErrno());
    if (lseek(fd, 0, SEEK_SET) != 0)
        return errno;
    in.CloseWave();
    return in.OpenWaveFd(fd, CWave::kOpenPcm16) >= 0 ? 0 : Or(in.GetReadErrno());
}

// Replaces the recording `in` reads by a copy at `rate` Hz, in an
// anonymous file under $TMPDIR. 0, or the errno of the failure, about the
// file `culprit` names.
int Resample(const options::Options& opt, CWave& in, int rate, bool streamed,
             const char*& culprit) {
    culprit = files::TemporaryDirectory();
    const int fd = files::AnonymousFile(culprit);
    if (fd < 0)
        return errno;
    const int error = CopyAndReopen(opt, in, rate, streamed, fd, culprit);
    close(fd);
    return error;
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

// The regeneration pass: with a baseline to take out (always with --auto),
// block by block with its neighbours' context; else the plain pass. Both
// count the crossings SuggestAuto reads.
std::optional<short> RegeneratePass(CWave& in, CWave& out, short* block, int blocks,
                                    const options::Options& opt, const plan::Plan& plan,
                                    std::vector<regen::Crossings>& crossings) {
    if (opt.automatic || plan.window > 0 || plan.settings.smooth > 1 || plan.settings.follow > 0 ||
        regen::Combines(plan.settings) || plan.settings.Banded())
        return regen::RegenerateTracked(in, out, plan.span, plan.window, plan.settings, &crossings);
    return regen::RegenerateSpan(in, out, block, blocks, plan.span, plan.settings, &crossings);
}

// Blocks held back past what memory keeps wait in a file under $TMPDIR.
int SpillFile() {
    return files::AnonymousFile(files::TemporaryDirectory());
}

struct Regenerated {
    plan::Plan plan;
    short level = 0;
    bool nothingFound = false; // --auto found no pulse train and wrote nothing
};

// --auto's verdict on a recording that may hold no pulse train: true when
// it found one; otherwise says why and sets `nothing`. Empty on a failed seek.
std::optional<bool> HoldsPulseTrain(CWave& in, const options::Options& opt,
                                    const plan::Plan& plan) {
    const std::optional<regen::Found> found =
        regen::FindPulseTrain(in, plan.active, plan.settings.channel, plan.settings.switchAbove);
    if (!found)
        return std::nullopt;
    // Flips at no stable widths are noise only where the noise also drowns
    // the pulses: scrambled data flips at widths of every count of bits,
    // and regenerated it decodes.
    if (*found == regen::Found::kPulseTrain || (*found == regen::Found::kNoise && !plan.drowned))
        return true;
    diag::Say(diag::NothingFound(opt.input, *found == regen::Found::kSilence,
                                 plan.settings.activeAbove, plan.settings.switchAbove));
    return false;
}

// A second reader of the input, for --auto's analysis pass to read the
// later half of the recording meanwhile; null where the input can have none
// (a stream read as it comes) or where the file read again does not show
// the same samples.
CWave* OpenBeside(const files::Input& input, CWave& in, CWave& beside, CWave::tOpenMode mode) {
    const int fd = input.Reopen();
    if (fd < 0)
        return nullptr;
    const int length = beside.OpenWaveFd(fd, mode); // reads a duplicate of fd
    close(fd);
    const CWave::tWaveFmtChunk &a = in.GetFormatChunk(), &b = beside.GetFormatChunk();
    if (length != in.GetSampleLength() || a.formatTag != b.formatTag || a.channels != b.channels ||
        a.sampleRate != b.sampleRate || a.blockAlign != b.blockAlign ||
        a.bitsPerSample != b.bitsPerSample) {
        beside.CloseWave();
        return nullptr;
    }
    return &beside;
}

// Plans the run and regenerates its span into `out`: in one read of the
// input where the levels are known beforehand, else a pass that plans and
// one that regenerates. Empty, with errno set, when the input or the file
// for blocks held back fails; `culprit` then names it.
std::optional<Regenerated> PlanAndRegenerate(const files::Input& input, CWave& in, CWave& out,
                                             short* block, int blocks, const options::Options& opt,
                                             std::vector<regen::Crossings>& crossings,
                                             bool streamed, const char*& culprit) {
    culprit = opt.input;
    if (plan::InOneRead(opt)) {
        regen::Held held(SpillFile);
        auto run = plan::PlanAndRegenerate(in, out, block, blocks, opt, held, crossings, streamed);
        if (!run) {
            if (held.Failed())
                culprit = files::TemporaryDirectory();
            return std::nullopt;
        }
        return Regenerated{std::move(run->first), run->second};
    }
    std::optional<plan::Plan> plan;
    if (opt.automatic) {
        CWave beside;
        plan = plan::PlanBySwings(in, opt, OpenBeside(input, in, beside, ReadMode(opt)));
    } else {
        plan = plan::PlanByPeaks(in, block, blocks, opt);
    }
    if (!plan)
        return std::nullopt;
    if (opt.automatic) {
        const std::optional<bool> pulses = HoldsPulseTrain(in, opt, *plan);
        if (!pulses)
            return std::nullopt;
        if (!*pulses)
            return Regenerated{std::move(*plan), 0, true};
    }
    const std::optional<short> level =
        RegeneratePass(in, out, block, blocks, opt, *plan, crossings);
    if (!level)
        return std::nullopt;
    return Regenerated{std::move(*plan), *level};
}

} // namespace

// The messages on standard output are fixed: scripts that match them rely
// on them, "[0]" for an input refused before it was read included.
int main(int argc, char* argv[]) {
    const char* program = argc > 0 ? argv[0] : diag::kProgram;
    FillStandardDescriptors();
    IgnoreSignalsOfFailedWrites();
    options::Options opt = RefuseSameFile(options::Parse(argc, argv));
    if (opt.action != options::Action::kRun)
        return CloseStdout(AnswerHelpVersionOrUsage(opt, program));

    files::Input input;
    files::OutputFile output; // declared before `out`, which closes first
    CWave in;
    CWave out;
    std::vector<short> block(regen::kBlockFrames);

    if (OpenInput(input, opt.input, plan::InOneRead(opt)) != 0)
        return CloseStdout(options::kExitFailed);
    // Said before the reader runs: a header cut off inside a size field
    // ends the process in it.
    const std::optional<content::Kind> notWave = Identify(input, false);
    if (notWave)
        diag::Say(diag::NotWave(opt.input, notWave));
    const int length = OpenWaveOn(input, in, ReadMode(opt));
    if (length <= 0) {
        printf("Error: Input file can't open [%d]\n", length);
        // A disk that fails under the header is no file in the wrong format.
        if (!notWave)
            diag::Say(in.GetReadErrno() != 0 ? diag::Failure(opt.input, in.GetReadErrno())
                                             : ExplainRefusal(opt, input, in));
        return CloseStdout(options::kExitFailed);
    }
    // A stream read as it comes tells its length at its end; a copy at
    // another rate is read in its place, and can seek.
    bool streamed = input.Streamed();
    opt.rate = RateFor(opt, in);
    const bool resample = opt.rate > 0 && uint32_t(opt.rate) != in.GetFormatChunk().sampleRate;
    if (resample && !Resamplable(in.GetFormatChunk().sampleRate)) {
        diag::Say(diag::CannotResample(opt.input, in.GetFormatChunk().sampleRate, options::kMinRate,
                                       options::kMaxRate));
        return CloseStdout(options::kExitFailed);
    }
    if (resample) {
        const char* culprit = nullptr;
        if (const int error = Resample(opt, in, opt.rate, streamed, culprit)) {
            puts("Error: Input file can't open [0]");
            return CloseStdout(Explain(culprit, error));
        }
        streamed = false;
    }
    const CWave::tOutputWaveFormat format = OutputFormat(opt, in);
    if (const int error = OpenOutput(output, out, opt.output, format)) {
        puts("Error: Output file can't open");
        return CloseStdout(Explain(output.Culprit(), error));
    }
    WarnAboutRate(opt, in, format);
    if (!streamed && !resample) // else said as the copy was made
        WarnAboutLength(opt, in);

    if (!opt.quiet && !streamed)
        plan::PrintLength(in);
    // A trailing part block is never read (imposed: the verdicts' readers and
    // the outputs rely on it, as on block 0 going unjudged).
    const int blocks = in.GetSampleLength() / regen::kBlockFrames;
    std::vector<regen::Crossings> crossings;
    const char* culprit = nullptr;
    const std::optional<Regenerated> run =
        PlanAndRegenerate(input, in, out, block.data(), blocks, opt, crossings, streamed, culprit);
    if (!run)
        return CloseStdout(Explain(culprit, errno));
    if (streamed)
        WarnAboutLength(opt, in);
    if (run->nothingFound)
        return CloseStdout(options::kExitNothingFound);
    // Samples that could not be read were taken for silence: the output
    // would be wrong, so it is not installed.
    if (const int error = in.GetReadErrno()) {
        // As when a stream that is copied first fails in the copy.
        if (streamed)
            puts("Error: Input file can't open [0]");
        return CloseStdout(Explain(opt.input, error));
    }
    regen::AppendFade(out, block.data(), run->level);
    if (const int error = FinishOutput(output, out)) {
        puts("Error: Output file can't write");
        return CloseStdout(Explain(output.Culprit(), error));
    }
    if (!opt.automatic)
        plan::SuggestAuto(in, opt, run->plan, crossings, !streamed);
    return CloseStdout(options::kExitOk);
}
