// cwave-peaks FILE.wav: prints a 16-bit PCM WAV file's length and the peak of
// each of its first two channels, read block by block as floats with CWave.
// An example of a program built against the installed library.
#include <cwave/Wave.h>

#include <cmath>
#include <cstdio>

namespace {

constexpr int kBlockFrames = 4096;
// Two output channels; a one-channel file fills them with its first channel.
constexpr int kLoadFlags = CWave::kLoadStereo | CWave::kMixLeft << CWave::kMixShift;

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: cwave-peaks FILE.wav\n");
        return 2;
    }
    // The object is about 67 KiB (a 64-KiB scratch buffer): keep it off small stacks.
    static CWave wave;
    const int frames = wave.OpenWave(argv[1]);
    if (frames <= 0) {
        // 0 also stands for an empty data chunk: the reader cannot tell them apart.
        const char* why = frames == -1   ? "not 16-bit PCM"
                          : frames == -2 ? "a chunk other than LIST before the data"
                                         : "no samples, or not a RIFF/WAVE file";
        std::fprintf(stderr, "cwave-peaks: %s: %s\n", argv[1], why);
        return 1;
    }
    const CWave::tWaveFmtChunk& format = wave.GetFormatChunk();
    const int channels = format.channels < 2 ? 1 : 2;

    // Planar: the first channel in block[0..n), the second in block[n..2n).
    static float block[2 * kBlockFrames];
    float peak[2] = {0.0f, 0.0f};
    for (int done = 0; done < frames;) {
        const int n = frames - done < kBlockFrames ? frames - done : kBlockFrames;
        wave.LoadWaveFloat(block, n, kLoadFlags, 0);
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < n; ++i)
                peak[c] = std::fmax(peak[c], std::fabs(block[c * n + i]));
        done += n;
    }

    std::printf("%s: %d frames, %u Hz, %u channel%s, %.3f s\n", argv[1], frames,
                unsigned(format.sampleRate), unsigned(format.channels),
                format.channels == 1 ? "" : "s",
                format.sampleRate ? double(frames) / format.sampleRate : 0.0);
    for (int c = 0; c < channels; ++c)
        std::printf("channel %d: peak %.6f (%.1f dBFS)\n", c + 1, double(peak[c]),
                    20.0 * std::log10(double(peak[c])));
    return 0;
}
