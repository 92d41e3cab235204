// The reference model of the WAV reader, shared by the tests and the
// fuzzers: what OpenWave must answer for a file's bytes, and what each
// position operation, skip and load must do, worked out one sample at a time
// from the file image in memory. It shares nothing with CWave's run
// decoding or specialised loops, so both are held to it. It also tells which
// inputs end the process in get_ulong (a size field cut off), which the
// fuzzers must not feed to CWave: libFuzzer would count that deliberate exit
// as a crash. Needs no test framework.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

namespace model {

inline uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t Get16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline bool Is(const uint8_t* p, const char* id) {
    return std::memcmp(p, id, 4) == 0;
}
// The ids of the chunks that writers put after the audio; only a chain of
// these is taken for chunks that close a file.
inline bool AfterAudio(const uint8_t* p) {
    static const char* const kIds[] = {"LIST", "list", "id3 ", "ID3 ", "JUNK", "junk", "PAD ",
                                       "FLLR", "bext", "cue ", "fact", "smpl", "inst", "acid",
                                       "_PMX", "iXML", "umid", "DISP", "afsp", "cart", "axml",
                                       "levl", "PEAK", "plst", "minf", "elm1", "regn"};
    return std::any_of(std::begin(kIds), std::end(kIds), [p](const char* id) { return Is(p, id); });
}

// What OpenWave on a fresh object does with a file.
struct Open {
    bool exits = false;    // get_ulong ends the process with status 1
    int result = 0;        // OpenWave's value
    bool attached = false; // a stream stays attached afterwards
    int64_t pos = 0;       // the stream's position then
    bool found = false;    // the data chunk was found: pos is the first sample
    uint16_t channels = 0; // the format chunk's fields, once read
    uint16_t bits = 0;
    int64_t dataEnd = INT64_MAX; // loads stop here
};

// Where the data found at `top`, declaring `declared` bytes, ends: the
// declared end, or for a file that ends first, the file's end short of any
// chain of chunks that close it (looked for in its last 64 KiB).
inline void FoundData(Open& o, const uint8_t* b, size_t n, uint64_t top, uint64_t declared) {
    o.found = true;
    o.pos = int64_t(top);
    const uint64_t held = n > top ? n - top : 0;
    uint64_t end = top + declared;
    if (declared > held) {
        end = n;
        const uint64_t from = std::max<uint64_t>(n - std::min<uint64_t>(held, 65536), top);
        for (bool more = true; more;) {
            more = false;
            for (uint64_t at = from; at + 8 <= end && !more; ++at) {
                const uint64_t room = end - at - 8, size = Get32(b + at + 4);
                if (AfterAudio(b + at) && (size == room || (size % 2 && size + 1 == room))) {
                    end = at;
                    more = true;
                }
            }
        }
    }
    o.dataEnd = int64_t(end);
    const uint64_t frameBytes = uint64_t(o.channels) * 2;
    o.result = int(uint32_t(frameBytes ? (end - top) / frameBytes : 0));
}

inline Open WalkHeader(const uint8_t* b, size_t n) {
    Open o;
    if (n < 4 || !Is(b, "RIFF"))
        return o;
    if (n < 8) { // the RIFF size is cut off
        o.exits = true;
        return o;
    }
    if (n < 12 || !Is(b + 8, "WAVE"))
        return o;
    if (n < 36 || !Is(b + 12, "fmt "))
        return o; // the 24 bytes of the format chunk are read in one piece
    const int32_t fmtSize = int32_t(Get32(b + 16));
    const int16_t tag = int16_t(Get16(b + 20));
    o.channels = Get16(b + 22);
    o.bits = Get16(b + 34);
    o.attached = true;
    o.pos = 36;
    if (o.bits != 16 || tag != 1) {
        o.result = -1;
        return o;
    }
    // The format chunk ends fmtSize + 8 bytes after its start, compared as
    // signed 32-bit; the 24 bytes read so far count toward it.
    const int64_t end = int32_t(uint32_t(fmtSize) + 8u);
    uint64_t pos = 12 + uint64_t(end > 24 ? end : 24);
    for (;;) {
        if (pos + 4 > n) { // no whole chunk id: closed, 0
            o.attached = false;
            o.result = 0;
            return o;
        }
        const uint8_t* id = b + pos;
        if (pos + 8 > n) { // the chunk size is cut off
            o.exits = true;
            return o;
        }
        const uint32_t size = Get32(b + pos + 4);
        pos += 8;
        if (Is(id, "data")) {
            FoundData(o, b, n, pos, size);
            return o;
        }
        if (!Is(id, "LIST") && !Is(id, "list")) {
            o.pos = int64_t(pos);
            o.result = -2;
            return o;
        }
        pos += size;
    }
}

// The reader's state after OpenWave, moved along by each operation exactly
// as the reader must move.
struct Reader {
    const uint8_t* file;
    int64_t size;
    bool attached;
    uint16_t channels;
    uint16_t bits;
    int64_t pos;     // the stream position
    int64_t offset;  // the running position the page operations move
    int64_t dataTop; // 0 until a data chunk is found
    int64_t dataEnd; // loads stop here
    uint64_t loaded; // frames delivered whole since the open

    Reader(const uint8_t* b, size_t n, const Open& o)
        : file(b), size(int64_t(n)), attached(o.attached), channels(o.channels), bits(o.bits),
          pos(o.pos), offset(o.found ? o.pos : 0), dataTop(o.found ? o.pos : 0), dataEnd(o.dataEnd),
          loaded(0) {}

    // Whole frames of `frames` left before the data ends.
    int64_t Left(int64_t frames) const {
        const int64_t frameBytes = channels * (bits <= 8 ? 1 : 2);
        if (frameBytes == 0)
            return frames;
        return pos >= dataEnd ? 0 : std::min(frames, (dataEnd - pos) / frameBytes);
    }

    bool SeekTo(int64_t to) {
        if (to < 0)
            return false;
        pos = to;
        return true;
    }
    void TopPage() {
        if (attached)
            SeekTo(offset = dataTop);
    }
    void Page(int direction) {
        if (!attached)
            return;
        const int64_t page = int32_t(uint32_t(channels) << 20);
        offset += direction * page;
        SeekTo(offset);
    }
    int SetPos(int frame) {
        if (!attached)
            return -1;
        offset = dataTop + int32_t(uint32_t(channels) * uint32_t(frame) * 2u);
        return SeekTo(offset) ? 0 : -1;
    }

    // The values a load of `frames` frames must leave in the buffer, in the
    // requested layout, as ints (a float load divides them by 32,768).
    std::vector<int> Load(int frames, bool stereo, bool interleaved) {
        if (attached)
            offset += int32_t(uint32_t(channels) * 2u * uint32_t(frames));
        if (frames <= 0)
            return {};
        const size_t count = size_t(frames);
        const size_t reach = size_t(Left(frames));
        std::vector<int> out(stereo ? 2 * count : count, 0);
        if (!attached)
            return out;
        if (channels == 0) { // nothing to read: every frame mixes to 0
            loaded += count;
            return out;
        }
        const int64_t sampleBytes = bits <= 8 ? 1 : 2;
        const int64_t frameBytes = channels * sampleBytes;
        const int64_t start = pos;
        const int64_t left = pos < size ? size - pos : 0;
        const size_t done = size_t(std::min<int64_t>(int64_t(reach), left / frameBytes));
        pos += std::min<int64_t>(int64_t(reach) * frameBytes, left);
        for (size_t i = 0; i < done; ++i) {
            const int64_t at = start + int64_t(i) * frameBytes;
            if (stereo && channels == 2) {
                Put(out, count, i, interleaved, Sample(at), Sample(at + sampleBytes));
                continue;
            }
            int64_t sum = 0;
            for (int64_t c = 0; c < channels; ++c)
                sum += Sample(at + c * sampleBytes);
            const int mixed = int(sum / channels);
            if (stereo)
                Put(out, count, i, interleaved, mixed, mixed);
            else
                out[i] = mixed;
        }
        loaded += done;
        return out;
    }

    // What SkipFrames must do: the running position moves as for a load,
    // the stream by the frames' bytes, and nothing counts as delivered.
    void Skip(int frames) {
        if (!attached)
            return;
        offset += int32_t(uint32_t(channels) * 2u * uint32_t(frames));
        if (frames > 0)
            pos += Left(frames) * channels * (bits <= 8 ? 1 : 2);
    }

  private:
    int Sample(int64_t at) const {
        if (bits <= 8)
            return (int(file[at]) - 128) * 256;
        return int16_t(Get16(file + at));
    }
    static void Put(std::vector<int>& out, size_t count, size_t i, bool interleaved, int a, int b) {
        out[interleaved ? 2 * i : i] = a;
        out[interleaved ? 2 * i + 1 : count + i] = b;
    }
};

// A load's values as the 16-bit loaders deliver them.
inline std::vector<short> Shorts(const std::vector<int>& values) {
    return std::vector<short>(values.begin(), values.end());
}

} // namespace model
