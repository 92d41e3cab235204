// A deliberately slow reader to hold the loaders to: it takes one sample per
// stdio call from wherever its stream stands and folds each frame the plain
// way, so it shares none of the loaders' run decoding or specialisations.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace wavtest {

// Reads `channels` channels of `bits`-bit samples from byte `start` of the
// file on: one fgetc per 8-bit sample, one 2-byte fread per 16-bit sample.
// When a sample cannot be read, that frame and every later one of the request
// are zeros.
class ReferenceReader {
  public:
    ReferenceReader(const std::string& path, long start, unsigned channels, unsigned bits)
        : fp_(std::fopen(path.c_str(), "rb")), channels_(channels), bits_(bits) {
        if (!fp_ || std::fseek(fp_, start, SEEK_SET) != 0)
            ADD_FAILURE() << "cannot open " << path;
    }
    ~ReferenceReader() {
        if (fp_)
            std::fclose(fp_);
    }
    ReferenceReader(const ReferenceReader&) = delete;
    ReferenceReader& operator=(const ReferenceReader&) = delete;

    // One load's output elements in its layout: mono is the mean of all
    // channels, truncated toward zero; two-channel output holds a
    // two-channel file's channels as they are and the mean in both
    // otherwise.
    std::vector<short> Load(int frames, bool stereo, bool interleaved) {
        const size_t n = size_t(frames);
        // Every element is written below; the filler shows one that is not.
        std::vector<short> out(stereo ? 2 * n : n, short(0x2B2B));
        for (size_t i = 0; i < n; ++i) {
            int64_t sum = 0;
            for (unsigned j = 0; j < channels_; ++j) {
                int v;
                if (!Sample(v)) {
                    ZeroFrom(out, n, i, stereo, interleaved);
                    return out;
                }
                if (stereo && channels_ == 2)
                    out[interleaved ? 2 * i + j : j * n + i] = short(v);
                else
                    sum += v;
            }
            if (stereo && channels_ == 2)
                continue;
            const short mixed = channels_ ? short(sum / int64_t(channels_)) : 0;
            if (!stereo) {
                out[i] = mixed;
            } else if (interleaved) {
                out[2 * i] = out[2 * i + 1] = mixed;
            } else {
                out[i] = out[n + i] = mixed;
            }
        }
        return out;
    }

    // Moves on by `frames` whole frames, past the end of the file if so.
    void Skip(int frames) {
        const long bytes = long(frames) * long(channels_) * (bits_ <= 8 ? 1 : 2);
        if (std::fseek(fp_, bytes, SEEK_CUR) != 0)
            ADD_FAILURE() << "cannot skip " << frames << " frames";
    }

  private:
    bool Sample(int& v) {
        if (bits_ <= 8) {
            const int c = std::fgetc(fp_);
            if (c == EOF)
                return false;
            v = (c - 128) * 256;
            return true;
        }
        unsigned char b[2];
        if (std::fread(b, 1, 2, fp_) != 2)
            return false;
        v = int16_t(uint16_t(b[0] | b[1] << 8));
        return true;
    }

    static void ZeroFrom(std::vector<short>& out, size_t n, size_t from, bool stereo,
                         bool interleaved) {
        for (size_t k = from; k < n; ++k) {
            if (!stereo) {
                out[k] = 0;
            } else if (interleaved) {
                out[2 * k] = out[2 * k + 1] = 0;
            } else {
                out[k] = out[n + k] = 0;
            }
        }
    }

    FILE* fp_;
    unsigned channels_;
    unsigned bits_;
};

} // namespace wavtest
