#include "Analysis.h"

#include "Blocks.h"
#include "Flips.h"
#include "Loader.h"

#include <algorithm>

namespace regen {

namespace {

// Only the first active blocks are read to measure the flips, and only so
// many blocks spread over a file to tell whether its mix is the weak signal.
constexpr int kProbeBlocks = 8;
constexpr int kSampledBlocks = 16;

} // namespace

std::optional<SwingScan> ScanSwings(CWave& in, short* block, std::optional<Channel> channel) {
    SwingScan scan;
    scan.channels = in.GetFormatChunk().channels;
    if (in.SetPos(0) != 0)
        return std::nullopt;
    const int64_t length = in.GetSampleLength();
    const int64_t blocks = BlockCount(length);
    const bool allFour = !channel && scan.channels == 2;
    const Channel judged = channel.value_or(Channel::kMix);
    std::vector<short> stereo(allFour ? 2 * kBlockFrames : 0);
    std::vector<float> scratch;
    scan.blocks.reserve(size_t(blocks));
    // As in the activity pass, a file that ends before its declared length
    // is not read on: the blocks it does not hold are silent.
    const uint64_t start = in.GetLoadedFrames();
    for (int64_t b = 0; b < blocks; ++b) {
        const int frames = FramesOf(b, length);
        if (scan.ended) {
            scan.blocks.push_back(BlockSwings{});
            continue;
        }
        const uint64_t before = in.GetLoadedFrames();
        if (allFour) {
            in.LoadWaveShortStereo(stereo.data(), frames, 1);
            scan.blocks.push_back(MeasureStereo(stereo.data(), frames));
        } else {
            LoadSignal(in, block, frames, judged, scratch);
            scan.blocks.push_back(MeasureMono(block, frames, judged));
        }
        scan.ended = in.GetLoadedFrames() - before < uint64_t(frames);
    }
    scan.framesRead = in.GetLoadedFrames() - start;
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
