// Throughput of the reading hot path, without the rest of the tool: each
// benchmark loads a whole temporary WAV file block by block through
// LoadWaveShort or LoadWaveFloat and reports the file bytes decoded per second, so a change in
// the decoding loops shows up here before it shows up in a full run.
#include "Activity.h"
#include "Settings.h"
#include "Switch.h"
#include "WavFormat.h"
#include "Wave.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBlocks = 64; // 2.5 MiB of 16-bit stereo: stays in the page cache

// A 16-bit PCM file of kBlocks blocks of loud noise, removed when the
// benchmark program ends.
class NoiseFile {
  public:
    explicit NoiseFile(int channels) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/loaders_bench_XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = mkstemp(name.data());
        if (fd < 0)
            std::abort();
        close(fd);
        m_path = name.data();

        const size_t samples = size_t(kBlocks) * regen::kBlockFrames * size_t(channels);
        std::vector<unsigned char> bytes(wav::kHeaderBytes + 2 * samples);
        const CWave::tOutputWaveFormat format{44100, 2, channels};
        wav::EncodeHeader(bytes.data(), wav::MakeFmtChunk(format), uint32_t(bytes.size() - 8),
                          uint32_t(2 * samples));
        std::mt19937 random(channels);
        std::uniform_int_distribution<int> sample(-32768, 32767);
        for (size_t i = 0; i < samples; ++i)
            wav::PutLe16(&bytes[wav::kHeaderBytes + 2 * i], uint16_t(sample(random)));
        FILE* fp = std::fopen(m_path.c_str(), "wb");
        if (!fp || std::fwrite(bytes.data(), 1, bytes.size(), fp) != bytes.size() ||
            std::fclose(fp) != 0)
            std::abort();
    }
    ~NoiseFile() { std::remove(m_path.c_str()); }
    NoiseFile(const NoiseFile&) = delete;
    NoiseFile& operator=(const NoiseFile&) = delete;
    const char* Path() const { return m_path.c_str(); }

  private:
    std::string m_path;
};

const NoiseFile& FileOf(int channels) {
    static const NoiseFile mono(1), stereo(2), three(3);
    return channels == 1 ? mono : channels == 2 ? stereo : three;
}

enum Layout { kMonoMix, kInterleaved, kPlanar };

void Load(CWave& wave, short* block, Layout layout) {
    wave.LoadWaveShort(block, regen::kBlockFrames, layout != kMonoMix, layout == kInterleaved);
}
void Load(CWave& wave, float* block, Layout layout) {
    wave.LoadWaveFloat(block, regen::kBlockFrames, layout != kMonoMix, layout == kInterleaved);
}

// LoadWaveShort (T = short) or LoadWaveFloat (T = float, mix mode 0).
// Arguments: the file's channel count and the output layout.
template <class T> void BM_Load(benchmark::State& state) {
    const int channels = int(state.range(0));
    const auto layout = Layout(state.range(1));
    CWave wave;
    if (wave.OpenWave(FileOf(channels).Path()) != kBlocks * regen::kBlockFrames) {
        state.SkipWithError("cannot open the benchmark file");
        return;
    }
    std::vector<T> block(2 * regen::kBlockFrames);
    for (auto _ : state) {
        wave.SetTopPage();
        for (int b = 0; b < kBlocks; ++b) {
            Load(wave, block.data(), layout);
            benchmark::DoNotOptimize(block.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlocks * regen::kBlockFrames * channels *
                            2);
    static const char* const kLayoutNames[] = {"mono mix", "interleaved", "planar"};
    state.SetLabel(std::to_string(channels) + " ch, " + kLayoutNames[layout]);
}
BENCHMARK_TEMPLATE(BM_Load, short)
    ->ArgsProduct({{1, 2, 3}, {kMonoMix, kInterleaved, kPlanar}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Load, float)
    ->ArgsProduct({{1, 2, 3}, {kMonoMix, kInterleaved, kPlanar}})
    ->Unit(benchmark::kMicrosecond);

// The two block functions of the regeneration steps, on one block of noise;
// bytes are those of the 16-bit block.
std::vector<short> NoiseBlock(int seed, int limit) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(-limit, limit);
    std::vector<short> block(regen::kBlockFrames);
    for (auto& s : block)
        s = short(sample(random));
    return block;
}

// Every block is examined to its end for its peak.
void BM_PeakQuiet(benchmark::State& state) {
    const std::vector<short> block = NoiseBlock(1, regen::kActiveAbove);
    for (auto _ : state)
        benchmark::DoNotOptimize(regen::Peak(block.data(), regen::kBlockFrames));
    state.SetBytesProcessed(int64_t(state.iterations()) * regen::kBlockFrames * 2);
}
BENCHMARK(BM_PeakQuiet);

// Full-scale noise crosses the switch thresholds at random, the worst case
// for a switch that branches on them.
void BM_RegenerateNoise(benchmark::State& state) {
    const std::vector<short> noise = NoiseBlock(2, 32767);
    std::vector<short> block(noise.size());
    short level = 0;
    for (auto _ : state) {
        block = noise;
        level = regen::Regenerate(block.data(), regen::kBlockFrames, level);
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * regen::kBlockFrames * 2);
}
BENCHMARK(BM_RegenerateNoise);

} // namespace

BENCHMARK_MAIN();
