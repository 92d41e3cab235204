#include "Analysis.h"

#include "Blocks.h"
#include "Flips.h"
#include "Loader.h"
#include "Worker.h"

#include <algorithm>

namespace regen {

namespace {

// Only the first active blocks are read to measure the flips, and only so
// many blocks spread over a file to tell whether its mix is the weak signal.
constexpr int kProbeBlocks = 8;
constexpr int kSampledBlocks = 16;
// Below this many blocks a second reader saves less than it costs to open.
constexpr int64_t kBlocksWorthSplitting = 64;

// The blocks [from, to) of the analysis pass, read through `in` from where
// it stands; once a load comes up short the file has ended, and the blocks
// it does not hold are silent and go unread.
struct Part {
    Part(CWave* reader, int64_t first, int64_t end, std::optional<Channel> judged)
        : in(reader), from(first), to(end), channel(judged) {}
    CWave* in;
    int64_t from, to;
    std::optional<Channel> channel;
    std::vector<BlockSwings> blocks;
    bool ended = false;
    uint64_t framesRead = 0;
};

void ScanPart(Part& part) {
    CWave& in = *part.in;
    const int64_t length = in.GetSampleLength();
    const bool allFour = !part.channel && in.GetFormatChunk().channels == 2;
    const Channel judged = part.channel.value_or(Channel::kMix);
    std::vector<short> samples(size_t(allFour ? 2 : 1) * kBlockFrames);
    std::vector<float> scratch;
    part.blocks.reserve(size_t(part.to - part.from));
    const uint64_t start = in.GetLoadedFrames();
    for (int64_t b = part.from; b < part.to; ++b) {
        const int frames = FramesOf(b, length);
        if (part.ended) {
            part.blocks.push_back(BlockSwings{});
            continue;
        }
        const uint64_t before = in.GetLoadedFrames();
        if (allFour) {
            in.LoadWaveShortStereo(samples.data(), frames, 1);
            part.blocks.push_back(MeasureStereo(samples.data(), frames));
        } else {
            LoadSignal(in, samples.data(), frames, judged, scratch);
            part.blocks.push_back(MeasureMono(samples.data(), frames, judged));
        }
        part.ended = in.GetLoadedFrames() - before < uint64_t(frames);
    }
    part.framesRead = in.GetLoadedFrames() - start;
}

void RunPart(void* part) {
    ScanPart(*static_cast<Part*>(part));
}

} // namespace

std::optional<SwingScan> ScanSwings(CWave& in, std::optional<Channel> channel, CWave* beside) {
    SwingScan scan;
    scan.channels = in.GetFormatChunk().channels;
    if (in.SetPos(0) != 0)
        return std::nullopt;
    const int64_t blocks = BlockCount(in.GetSampleLength());
    // With a second reader the later half is read through it on a thread of
    // its own while `in` reads the first: on two cores the pass then takes
    // about half as long, most of it the system copying the file's bytes.
    const int64_t half = beside && blocks >= kBlocksWorthSplitting ? blocks / 2 : blocks;
    Part first(&in, 0, half, channel);
    Part later(beside, half, blocks, channel);
    const bool apart = half < blocks && beside->SetPos(int(half * kBlockFrames)) == 0;
    {
        wav::Worker worker(RunPart, &later);
        const bool posted = apart && worker.Post();
        ScanPart(first);
        if (apart && !posted)
            ScanPart(later);
    } // the worker has finished
    // Blocks past the file's end are silent, whichever reader saw them. A
    // later half that could not be read apart, or whose read failed, is read
    // through `in`: a failure is the input's to report, as in one pass.
    if (first.ended) {
        later = Part(&in, half, blocks, channel);
        later.blocks.assign(size_t(blocks - half), BlockSwings{});
        later.ended = true;
    } else if (half < blocks && (!apart || beside->GetReadErrno() != 0)) {
        later = Part(&in, half, blocks, channel);
        if (in.SetPos(int(half * kBlockFrames)) != 0)
            return std::nullopt;
        ScanPart(later);
    }
    scan.blocks = std::move(first.blocks);
    scan.blocks.insert(scan.blocks.end(), later.blocks.begin(), later.blocks.end());
    scan.ended = first.ended || later.ended;
    scan.framesRead = first.framesRead + later.framesRead;
    return scan;
}

std::optional<int> ProbeWindow(CWave& in, const std::vector<unsigned char>& active, Channel channel,
                               int switchAbove) {
    const int64_t length = in.GetSampleLength();
    std::vector<short> x(kBlockFrames);
    std::vector<float> scratch;
    std::vector<int> intervals;
    int probed = 0;
    for (size_t b = 0; b < active.size() && probed < kProbeBlocks; ++b) {
        if (!active[b])
            continue;
        ++probed;
        const int frames = FramesOf(int64_t(b), length);
        if (in.SetPos(int(b) * kBlockFrames) != 0)
            return std::nullopt;
        LoadSignal(in, x.data(), frames, channel, scratch);
        FlipIntervals(x.data(), frames, switchAbove, intervals);
    }
    return WindowFor(std::move(intervals));
}

std::optional<Channel> SampleWidest(CWave& in) {
    const int64_t length = in.GetSampleLength();
    const int64_t blocks = BlockCount(length);
    if (in.GetFormatChunk().channels != 2 || blocks == 0)
        return Channel::kMix;
    std::vector<short> stereo(2 * kBlockFrames);
    std::vector<BlockSwings> sample;
    const int64_t count = std::min<int64_t>(blocks, kSampledBlocks);
    for (int64_t k = 0; k < count; ++k) {
        const int64_t b = k * blocks / count;
        if (in.SetPos(int(b * kBlockFrames)) != 0)
            return std::nullopt;
        const int frames = FramesOf(b, length);
        in.LoadWaveShortStereo(stereo.data(), frames, 1);
        sample.push_back(MeasureStereo(stereo.data(), frames));
    }
    return ChooseChannel(sample);
}

} // namespace regen
