// Fuzzes a whole pulseregen run: the input is the WAV file, run through the
// same steps as the program's main (open both files, activity pass, span,
// regeneration pass, fade, finalise). The output file must then be a WAV
// whose header sizes match the bytes it holds, and whose length is the span
// plus the fade block; for inputs of a few blocks its samples and span must
// be those of the run model in testing/.
#include "Activity.h"
#include "Analysis.h"
#include "Baseline.h"
#include "Flips.h"
#include "Passes.h"
#include "RunModel.h"
#include "Swings.h"
#include "Switch.h"
#include "Wave.h"
#include "WaveModel.h"
#include "fuzz_memfile.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

// Inputs declaring more blocks than this are checked without the run model,
// whose plain reading would hold every frame in memory at once.
constexpr int kMaxModelledBlocks = 64;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "pulseregen run: %s\n", what);
    std::abort();
}

uint32_t Field32(const std::string& s, size_t at) {
    return model::Get32(reinterpret_cast<const uint8_t*>(s.data()) + at);
}
uint16_t Field16(const std::string& s, size_t at) {
    return model::Get16(reinterpret_cast<const uint8_t*>(s.data()) + at);
}

// The --auto passes on the same input (at a fixed output rate, which they
// do not depend on): whatever the file holds, the output
// is the widened span (a trailing part block included), regenerated to the
// switch's three levels, then the fade, and its header declares exactly that.
void RunAuto(const char* path, MemFile& output) {
    CWave in;
    CWave out;
    std::vector<short> block(regen::kBlockFrames);
    if (in.OpenWave(path) <= 0)
        Fail("OpenWave on the second run");
    CWave::tOutputWaveFormat format = regen::kOutputFormat;
    if (out.OutputWave(output.Path(), &format) != 0)
        Fail("OutputWave");
    const std::optional<regen::SwingScan> scan = regen::ScanSwings(in, std::nullopt);
    if (!scan)
        Fail("ScanSwings");
    const int64_t length = in.GetSampleLength();
    if (int64_t(scan->blocks.size()) != (length + regen::kBlockFrames - 1) / regen::kBlockFrames)
        Fail("swing records");
    const regen::Channel channel =
        scan->channels == 2 ? regen::ChooseChannel(scan->blocks) : regen::Channel::kMix;
    const int swing = regen::LoudSwing(scan->blocks, channel);
    regen::Settings settings{regen::ActiveLevelFor(swing), regen::SwitchLevelFor(swing)};
    settings.channel = channel;
    const std::vector<unsigned char> active =
        regen::JudgeSwings(scan->blocks, channel, settings.activeAbove);
    const regen::Span span = regen::Widen(regen::FindSpan(active), int64_t(active.size()));
    const std::optional<int> window = regen::ProbeWindow(in, active, channel, settings.switchAbove);
    if (!window || *window < 0 || *window > regen::kMaxWindow)
        Fail("ProbeWindow");
    const std::optional<short> level = regen::RegenerateTracked(in, out, span, *window, settings);
    if (!level)
        Fail("RegenerateTracked");
    regen::AppendFade(out, block.data(), *level);
    if (out.OutputWaveFinalize() != 0)
        Fail("OutputWaveFinalize");
    const std::string wav = output.Bytes();
    const int64_t spanFrames =
        span.first < 0 ? 0
                       : std::min<int64_t>(length, (span.last + 1) * regen::kBlockFrames) -
                             span.first * regen::kBlockFrames;
    if (int64_t(wav.size()) != 44 + 2 * (spanFrames + regen::kBlockFrames) ||
        Field32(wav, 40) != wav.size() - 44 || Field32(wav, 4) != wav.size() - 8)
        Fail("auto output length");
    for (int64_t i = 0; i < spanFrames; ++i) {
        const int16_t s = int16_t(Field16(wav, 44 + 2 * size_t(i)));
        if (s != 0 && s != regen::kPulseLevel && s != -regen::kPulseLevel)
            Fail("auto regenerated sample");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MemFile input("fuzz-pass-in");
    static MemFile output("fuzz-pass-out");
    static MemFile autoOutput("fuzz-pass-auto");
    const model::Open open = model::WalkHeader(data, size);
    if (open.exits)
        return -1; // get_ulong would end the process, as it must; keep it out of the corpus
    input.Set(data, size);
    output.Set(nullptr, 0);

    CWave in;
    CWave out;
    std::vector<short> block(regen::kBlockFrames);
    const int length = in.OpenWave(input.Path());
    if (length != open.result)
        Fail("OpenWave differs from the model");
    if (length <= 0)
        return 0; // the program reports the value and stops here
    CWave::tOutputWaveFormat format = regen::kOutputFormat;
    if (out.OutputWave(output.Path(), &format) != 0)
        Fail("OutputWave");

    const int blocks = in.GetSampleLength() / regen::kBlockFrames;
    const std::optional<regen::Scan> scan = regen::ScanActivity(in, block.data(), blocks);
    if (!scan)
        Fail("ScanActivity");
    const std::vector<unsigned char> active = regen::Judge(scan->peaks, regen::kActiveAbove);
    if (active.size() != size_t(blocks) || (blocks > 0 && active[0]))
        Fail("activity flags");
    const regen::Span span = regen::FindSpan(active);
    const std::optional<short> level = regen::RegenerateSpan(in, out, block.data(), blocks, span);
    if (!level)
        Fail("RegenerateSpan");
    if (*level != 0 && *level != regen::kPulseLevel && *level != -regen::kPulseLevel)
        Fail("final level");
    regen::AppendFade(out, block.data(), *level);
    if (out.OutputWaveFinalize() != 0)
        Fail("OutputWaveFinalize");

    const std::string wav = output.Bytes();
    const size_t spanBlocks = span.first < 0 ? 0 : size_t(span.last - span.first + 1);
    const size_t frames = (spanBlocks + 1) * size_t(regen::kBlockFrames);
    if (wav.size() != 44 + 2 * frames)
        Fail("output length");
    if (wav.compare(0, 4, "RIFF") != 0 || Field32(wav, 4) != wav.size() - 8 ||
        wav.compare(8, 8, "WAVEfmt ") != 0 || Field32(wav, 16) != 16 || Field16(wav, 20) != 1 ||
        Field16(wav, 22) != 1 || Field32(wav, 24) != 44100 || Field32(wav, 28) != 88200 ||
        Field16(wav, 32) != 2 || Field16(wav, 34) != 16 || wav.compare(36, 4, "data") != 0 ||
        Field32(wav, 40) != wav.size() - 44)
        Fail("output header");
    // The span holds nothing but the switch's three levels.
    for (size_t i = 0; i < spanBlocks * regen::kBlockFrames; ++i) {
        const int16_t s = int16_t(Field16(wav, 44 + 2 * i));
        if (s != 0 && s != regen::kPulseLevel && s != -regen::kPulseLevel)
            Fail("regenerated sample");
    }
    if (blocks <= kMaxModelledBlocks) {
        model::Reader reader(data, size, open);
        const model::Run run =
            model::Regenerate(reader.Load(blocks * regen::kBlockFrames, false, false));
        if (run.first != span.first || run.last != span.last)
            Fail("span differs from the run model");
        for (size_t i = 0; i < frames; ++i)
            if (int16_t(Field16(wav, 44 + 2 * i)) != run.samples[i])
                Fail("sample differs from the run model");
    }
    autoOutput.Set(nullptr, 0);
    RunAuto(input.Path(), autoOutput);
    return 0;
}
