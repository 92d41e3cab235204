// Test helpers: WAV files built byte by byte in memory, and a scratch
// directory per test that is removed with everything in it afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace wavtest {

using Bytes = std::vector<unsigned char>;

inline void Put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, uint16_t(v));
    Put16(b, uint16_t(v >> 16));
}

// Byte by byte: GCC 12 for aarch64 reports a bogus -Wstringop-overflow for
// a four-byte range insert here.
inline void PutId(Bytes& b, const char* id) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(id[i]));
}

// The same as values, for building files out of pieces with Cat.
inline Bytes Le16(uint16_t v) {
    Bytes b;
    Put16(b, v);
    return b;
}

inline Bytes Le32(uint32_t v) {
    Bytes b;
    Put32(b, v);
    return b;
}

// The bytes of `text`, without a terminator: ids, magics and cut-off magics.
inline Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes RandomBytes(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bytes b(count);
    for (unsigned char& v : b)
        v = uint8_t(random());
    return b;
}

inline uint16_t Get16(const Bytes& b, size_t at) {
    return uint16_t(b.at(at) | b.at(at + 1) << 8);
}

inline uint32_t Get32(const Bytes& b, size_t at) {
    return uint32_t(Get16(b, at)) | uint32_t(Get16(b, at + 2)) << 16;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A chunk whose size field says `size`, whatever the body really holds.
inline Bytes ChunkSized(const char* id, uint32_t size, const Bytes& body) {
    Bytes b;
    PutId(b, id);
    Put32(b, size);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

inline Bytes Chunk(const char* id, const Bytes& body) {
    return ChunkSized(id, uint32_t(body.size()), body);
}

// Fields of a format chunk. byteRate and blockAlign are derived from the
// others unless given; `extra` follows the 16 standard bytes and counts in
// the chunk size unless `size` is set.
struct Fmt {
    uint16_t tag = 1;
    uint16_t channels = 1;
    uint32_t rate = 44100;
    uint16_t bits = 16;
    int64_t byteRate = -1;
    int32_t blockAlign = -1;
    int64_t size = -1;
    Bytes extra;
    const char* id = "fmt ";
};

inline Bytes FmtChunk(const Fmt& f) {
    const uint16_t align =
        f.blockAlign >= 0 ? uint16_t(f.blockAlign) : uint16_t(f.bits / 8 * f.channels);
    Bytes body;
    Put16(body, f.tag);
    Put16(body, f.channels);
    Put32(body, f.rate);
    Put32(body, f.byteRate >= 0 ? uint32_t(f.byteRate) : f.rate * align);
    Put16(body, align);
    Put16(body, f.bits);
    body.insert(body.end(), f.extra.begin(), f.extra.end());
    return ChunkSized(f.id, f.size >= 0 ? uint32_t(f.size) : uint32_t(body.size()), body);
}

// "RIFF", its size (by default the true one), "WAVE", then the chunks.
inline Bytes Riff(const Bytes& chunks, int64_t riffSize = -1) {
    Bytes b;
    PutId(b, "RIFF");
    Put32(b, riffSize >= 0 ? uint32_t(riffSize) : uint32_t(chunks.size() + 4));
    PutId(b, "WAVE");
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
}

inline Bytes Samples16(const std::vector<int>& values) {
    Bytes b;
    for (int v : values)
        Put16(b, uint16_t(int16_t(v)));
    return b;
}

// A canonical 44-byte-header file of 16-bit PCM holding `samples`
// (interleaved when there are several channels).
inline Bytes Wav16(const std::vector<int>& samples, uint16_t channels = 1, uint32_t rate = 44100) {
    Fmt f;
    f.channels = channels;
    f.rate = rate;
    return Riff(Cat({FmtChunk(f), Chunk("data", Samples16(samples))}));
}

// A canonical 44-byte header of PCM declaring `dataSize` bytes of data (and
// a RIFF size to match), then `body` as it comes: it may hold fewer bytes
// than declared, or more (chunks after the data).
inline Bytes WavDeclaring(uint16_t channels, uint16_t bits, uint32_t dataSize, const Bytes& body) {
    Fmt f;
    f.channels = channels;
    f.bits = bits;
    return Riff(Cat({FmtChunk(f), ChunkSized("data", dataSize, body)}), int64_t(dataSize) + 36);
}

// The 44-byte header of a file as this library writes it.
inline Bytes Header44(uint16_t channels, uint32_t rate, uint32_t byteRate, uint16_t align,
                      uint16_t bits, uint32_t riffSize, uint32_t dataSize) {
    Fmt f;
    f.channels = channels;
    f.rate = rate;
    f.byteRate = byteRate;
    f.blockAlign = align;
    f.bits = bits;
    return Riff(Cat({FmtChunk(f), ChunkSized("data", dataSize, {})}), riffSize);
}

// The header of a 44.1 kHz 16-bit mono file of `frames` frames, as this
// library writes it: what pulseregen's outputs start with.
inline Bytes Mono16Header(uint32_t frames) {
    return Header44(1, 44100, 88200, 2, 16, frames * 2 + 36, frames * 2);
}

inline Bytes Patched(Bytes b, size_t at, unsigned char value) {
    b.at(at) = value;
    return b;
}

inline Bytes Truncated(Bytes b, size_t size) {
    b.resize(size);
    return b;
}

// A fresh directory for one test; removed with its contents on destruction.
class TempDir {
  public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "wavtest-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            ADD_FAILURE() << "cannot create a scratch directory";
        dir_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Dir() const { return dir_; }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    // Writes `bytes` to a file in the directory and returns its path.
    std::string Write(const std::string& name, const Bytes& bytes) const {
        const std::string p = Path(name);
        FILE* f = std::fopen(p.c_str(), "wb");
        bool ok =
            f && (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
        ok = f && std::fclose(f) == 0 && ok;
        if (!ok)
            ADD_FAILURE() << "cannot write " << p;
        return p;
    }

  private:
    std::string dir_;
};

inline bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

inline Bytes ReadFile(const std::string& path) {
    Bytes b;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        ADD_FAILURE() << "cannot read " << path;
        return b;
    }
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        b.insert(b.end(), buf, buf + n);
    std::fclose(f);
    return b;
}

} // namespace wavtest
