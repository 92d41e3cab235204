// Writes the fuzzers' seed corpus into the directory given: small WAV files
// of every layout the reader meets (canonical, stereo, a format chunk of 18
// bytes, list chunks, a chunk after the data, other formats and chunks, cut
// files, the layouts only --any-wav reads, streamed headers), some long
// enough to hold loud blocks for the whole-run fuzzer.
// The same files come out on every run.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kBlock = 10240;

struct Wav {
    std::string b;
    Wav& Id(const char* id) {
        b.append(id, 4);
        return *this;
    }
    Wav& U16(uint32_t v) {
        b += char(v & 0xFF);
        b += char(v >> 8 & 0xFF);
        return *this;
    }
    Wav& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    // RIFF, WAVE and a format chunk of `fmtSize` bytes (extra bytes zero).
    static Wav Head(uint16_t channels, uint32_t fmtSize = 16, uint16_t bits = 16,
                    uint16_t tag = 1) {
        Wav w;
        w.Id("RIFF").U32(0).Id("WAVE").Id("fmt ").U32(fmtSize).U16(tag).U16(channels);
        w.U32(44100).U32(44100u * channels * bits / 8).U16(channels * bits / 8).U16(bits);
        w.b.append(fmtSize > 16 ? fmtSize - 16 : 0, '\0');
        return w;
    }
    // `frames` frames of a quiet wave with a loud stretch at [loudFrom, loudTo).
    Wav& Samples(uint16_t channels, uint32_t frames, uint32_t loudFrom, uint32_t loudTo) {
        for (uint32_t i = 0; i < frames; ++i) {
            const double amp = i >= loudFrom && i < loudTo ? 20000.0 : 900.0;
            const int v = int(std::lround(amp * std::sin(i * 0.07)));
            for (uint16_t c = 0; c < channels; ++c)
                U16(uint32_t(c == 1 ? -v : v) & 0xFFFF);
        }
        return *this;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    std::vector<std::pair<const char*, std::string>> seeds;
    const auto add = [&](const char* name, const Wav& w) { seeds.emplace_back(name, w.b); };

    // Three mono blocks, block 1 loud in its middle.
    Wav mono = Wav::Head(1);
    mono.Id("data").U32(3 * kBlock * 2).Samples(1, 3 * kBlock, kBlock + 2000, kBlock + 6000);
    add("canonical_mono.wav", mono);
    // Stereo declaring two blocks, holding a little more than one: the
    // second block is cut off but starts loud.
    add("stereo_cut.wav",
        Wav::Head(2).Id("data").U32(2 * kBlock * 4).Samples(2, kBlock + 300, kBlock, kBlock + 300));
    add("fmt18.wav", Wav::Head(1, 18)
                         .Id("data")
                         .U32(2 * kBlock * 2)
                         .Samples(1, kBlock + 200, kBlock, kBlock + 100));
    add("list.wav",
        Wav::Head(1).Id("LIST").U32(4).Id("INFO").Id("data").U32(16).Samples(1, 8, 0, 4));
    add("two_lists.wav", Wav::Head(2)
                             .Id("LIST")
                             .U32(4)
                             .Id("INFO")
                             .Id("list")
                             .U32(3)
                             .Id("abc ")
                             .Id("data")
                             .U32(16)
                             .Samples(2, 4, 0, 2));
    add("chunk_after_data.wav",
        Wav::Head(1).Id("data").U32(8).Samples(1, 4, 0, 2).Id("junk").U32(4).U32(0x7FFF8001));
    add("three_channels.wav", Wav::Head(3).Id("data").U32(36).Samples(3, 6, 0, 3));
    add("zero_channels.wav", Wav::Head(0).Id("data").U32(64).Samples(1, 4, 0, 4));
    add("eight_bit.wav", Wav::Head(1, 16, 8).Id("data").U32(8).U32(0x80FF0080).U32(0x7F81));
    add("not_pcm.wav", Wav::Head(1, 16, 16, 3).Id("data").U32(4).U32(0));
    add("fact.wav", Wav::Head(1).Id("fact").U32(4).U32(0).Id("data").U32(4).U32(0));
    add("empty_data.wav", Wav::Head(1).Id("data").U32(0));
    // What only the any-WAV mode reads.
    const auto extensible = [](uint16_t channels, uint16_t container, uint16_t valid,
                               uint16_t subformat) {
        Wav w;
        w.Id("RIFF").U32(0).Id("WAVE").Id("fmt ").U32(40).U16(0xFFFE).U16(channels).U32(48000);
        w.U32(48000u * channels * container / 8).U16(channels * container / 8).U16(container);
        w.U16(22).U16(valid).U32(3).U16(subformat).U16(0).U32(0x00100000).U32(0xAA000080);
        return w.U32(0x719B3800);
    };
    add("extensible_24_in_32.wav", extensible(2, 32, 24, 1)
                                       .Id("data")
                                       .U32(32)
                                       .U32(0x7FFFFF00)
                                       .U32(0x80000100)
                                       .U32(0x12345600));
    add("extensible_float.wav", extensible(1, 32, 32, 3)
                                    .Id("data")
                                    .U32(12)
                                    .U32(0x3F000000)
                                    .U32(0xBF800000)
                                    .U32(0x7FC00000));
    add("float64.wav",
        Wav::Head(1, 16, 64, 3).Id("data").U32(16).U32(0).U32(0x3FE00000).U32(0).U32(0xC0000000));
    add("pcm24_stereo.wav",
        Wav::Head(2, 16, 24).Id("data").U32(12).U32(0x7FFFFF).U32(0x800000).U32(0x123456));
    // 24-bit samples in the low bytes of 4-byte containers, as ALSA's S24_LE.
    Wav s24 = Wav::Head(1, 16, 24);
    s24.b[32] = 4;
    add("s24_le.wav", s24.Id("data").U32(12).U32(0x7FFFFF).U32(0x800000).U32(0x123456));
    Wav junk;
    junk.Id("RIFF").U32(0).Id("WAVE").Id("JUNK").U32(3).U32(0);
    junk.b += Wav::Head(1).b.substr(12);
    add("junk_first.wav", junk.Id("bext").U32(2).U16(0).Id("data").U32(8).Samples(1, 4, 0, 2));
    Wav rf64;
    rf64.Id("RF64").U32(0xFFFFFFFF).Id("WAVE").Id("ds64").U32(28).U32(0).U32(0).U32(8).U32(0);
    rf64.U32(4).U32(0).U32(0);
    rf64.b += Wav::Head(1).b.substr(12);
    add("rf64.wav", rf64.Id("data").U32(0xFFFFFFFF).Samples(1, 4, 0, 2));
    // Headers written to a pipe: a size that claims more than the file holds,
    // a list chunk closing the file; and a size of 0.
    add("streamed.wav", Wav::Head(2)
                            .Id("data")
                            .U32(0x7FFFF000)
                            .Samples(2, kBlock + 40, kBlock, kBlock + 40)
                            .Id("LIST")
                            .U32(4)
                            .Id("INFO"));
    add("streamed_zero.wav", Wav::Head(1).Id("data").U32(0).Samples(1, 8, 0, 4));
    Wav cut = mono;
    cut.b.resize(44 + 2 * (kBlock + 2500));
    add("cut_in_data.wav", cut);
    cut.b.resize(30);
    add("cut_in_fmt.wav", cut);

    for (const auto& [name, bytes] : seeds) {
        const std::string path = std::string(argv[1]) + "/" + name;
        FILE* fp = std::fopen(path.c_str(), "wb");
        if (!fp || std::fwrite(bytes.data(), 1, bytes.size(), fp) != bytes.size() ||
            std::fclose(fp) != 0) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
            return 1;
        }
    }
    return 0;
}
