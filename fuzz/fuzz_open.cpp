// Fuzzes the reader: the input's front is the WAV file, its tail the open
// mode and a script of position operations and loads (sizes, modes and
// layouts). Every result and every loaded buffer is compared with the model
// of the 16-bit reader in testing/WaveModel.h, which the any-WAV mode must
// match on a 16-bit PCM file whose header both walks read alike; on any other
// file that mode must neither crash nor exit, claim more frames than the file
// holds, or load a float out of range. The same bytes as a stream must give
// what the file gives.
#include "Wave.h"
#include "WaveModel.h"
#include "fuzz_memfile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Large enough that loads cross the reader's 64 KiB runs, small enough to
// keep each input fast.
constexpr int kMaxFrames = 40000;
constexpr int kMaxOps = 24;

// Whether the model speaks for the current input.
bool g_modelled = true;

[[noreturn]] void Mismatch(const char* what) {
    std::fprintf(stderr, "reader and model differ: %s\n", what);
    std::abort();
}

template <class T> void ExpectLoaded(const std::vector<T>& got, const std::vector<int>& want) {
    if (!g_modelled)
        return;
    if (got.size() != want.size())
        Mismatch("buffer size");
    for (size_t i = 0; i < got.size(); ++i)
        if (int(got[i]) != want[i])
            Mismatch("loaded value");
}

// One position operation or load of the script.
struct Op {
    uint8_t kind;
    int value;
    bool stereo, interleaved;
};

// The script comes off the input's end: mostly small loads, some long
// enough to span several read runs; positions anywhere in the int range now
// and then.
std::vector<Op> ReadScript(FuzzedDataProvider& fdp) {
    std::vector<Op> ops(fdp.ConsumeIntegralInRange<int>(0, kMaxOps));
    for (Op& op : ops) {
        op.kind = fdp.ConsumeIntegral<uint8_t>();
        const bool anyInt = (op.kind % 8) == 3 && (op.kind & 0x80);
        const int frameLimit = (op.kind & 0x60) == 0x60 ? kMaxFrames : 64;
        op.value =
            anyInt ? fdp.ConsumeIntegral<int>() : fdp.ConsumeIntegralInRange<int>(-4, frameLimit);
        op.stereo = fdp.ConsumeBool();
        op.interleaved = fdp.ConsumeBool();
    }
    return ops;
}

int Frames(const Op& op) {
    return op.value > kMaxFrames ? kMaxFrames : op.value;
}

// Buffers sized exactly to the request, so that AddressSanitizer sees any
// write past it.
size_t BufferSize(int frames, bool stereo) {
    return size_t(frames > 0 ? frames : 0) * (stereo ? 2 : 1);
}

void CheckShortLoad(const Op& op, CWave& w, model::Reader& m, bool stereoCall) {
    const int frames = Frames(op);
    const bool stereo = stereoCall || op.stereo;
    std::vector<short> buf(BufferSize(frames, stereo));
    if (stereoCall)
        w.LoadWaveShortStereo(buf.data(), frames, op.interleaved);
    else
        w.LoadWaveShort(buf.data(), frames, op.stereo, op.interleaved);
    ExpectLoaded(buf, m.Load(frames, stereo, op.interleaved));
}

// The float loaders read the same way; their mix by mode equals the model's
// average of all channels for two channels in mode 0 (or two-channel output)
// and for one channel in modes 0 to 2.
void CheckFloatLoad(const Op& op, CWave& w, model::Reader& m) {
    const int frames = Frames(op);
    const int mode = (op.kind >> 3) & 3;
    std::vector<float> buf(BufferSize(frames, op.stereo));
    if (op.stereo && mode == 0 && (op.kind & 0x40))
        w.LoadWaveFloatStereo(buf.data(), frames, op.interleaved);
    else
        w.LoadWaveFloat(buf.data(), frames, int(op.stereo) | mode << CWave::kMixShift,
                        op.interleaved);
    const std::vector<int> want = m.Load(frames, op.stereo, op.interleaved);
    const bool comparable = g_modelled && (!m.attached || m.channels == 0 ||
                                           (m.channels == 2 && (op.stereo || mode == 0)) ||
                                           (m.channels == 1 && mode <= 2));
    for (size_t i = 0; i < buf.size(); ++i) {
        if (!(buf[i] >= -1.0f && buf[i] < 1.0f))
            Mismatch("float out of range");
        if (comparable && buf[i] != float(want[i] / 32768.0))
            Mismatch("float value");
    }
}

// Runs one operation on the reader and the model, and compares them.
void Apply(const Op& op, CWave& w, model::Reader& m) {
    switch (op.kind % 8) {
    case 0:
        w.SetTopPage();
        m.TopPage();
        break;
    case 1:
        w.SetNextPage();
        m.Page(+1);
        break;
    case 2:
        w.SetPrevPage();
        m.Page(-1);
        break;
    case 3:
        if (w.SetPos(op.value) != m.SetPos(op.value) && g_modelled)
            Mismatch("SetPos");
        break;
    case 4:
        CheckShortLoad(op, w, m, false);
        break;
    case 5:
        CheckShortLoad(op, w, m, true);
        break;
    case 6:
        CheckFloatLoad(op, w, m);
        break;
    case 7:
        w.CloseWave();
        m.attached = false;
        break;
    }
}

// A stream of the same bytes, read once from its first sample, gives the
// file's samples, and once read to its end the file's length and the bytes
// it took for chunks after the data.
void CheckStream(const std::vector<uint8_t>& bytes, CWave::tOpenMode mode, const char* path) {
    CWave file;
    const int length = file.OpenWave(path, mode);
    if (length <= 0)
        return;
    CWave stream;
    if (stream.OpenWaveFd(-1, mode, bytes.data(), bytes.size()) <= 0)
        Mismatch("stream refused");
    const int frames = std::min(length, kMaxFrames) + 1;
    std::vector<short> want(size_t(frames) * 2), got(want.size());
    file.LoadWaveShort(want.data(), frames, 1, 1);
    stream.LoadWaveShort(got.data(), frames, 1, 1);
    if (got != want)
        Mismatch("stream samples");
    if (length < frames && (stream.GetSampleLength() != length ||
                            stream.GetTrailingBytes() != file.GetTrailingBytes()))
        Mismatch("stream length");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MemFile file("fuzz-open");
    FuzzedDataProvider fdp(data, size);
    // The mode and the operations come off the input's end, the file is what
    // is left in front.
    const bool anyWav = fdp.ConsumeBool();
    std::vector<Op> ops = ReadScript(fdp);
    const std::vector<uint8_t> bytes = fdp.ConsumeRemainingBytes<uint8_t>();

    const model::Open open = model::WalkHeader(bytes.data(), bytes.size());
    if (open.exits && !anyWav)
        return -1; // get_ulong would end the process, as it must; keep it out of the corpus
    file.Set(bytes.data(), bytes.size());
    // A format chunk of at most 16 bytes right before the data chunk, and a
    // page's bytes within the 16-bit reader's 32-bit arithmetic; positions
    // are kept small, which the any-WAV mode counts without wrapping.
    g_modelled = !anyWav || (open.result > 0 && open.pos == 44 && model::Get32(&bytes[16]) <= 16 &&
                             open.channels < 2048);
    if (anyWav)
        for (Op& op : ops)
            op.value %= 1 << 16;

    CWave w;
    const int length = w.OpenWave(file.Path(), anyWav ? CWave::kOpenAnyWav : CWave::kOpenPcm16);
    const CWave::tSampleFormat& format = w.GetSampleFormat();
    if (g_modelled ? length != open.result
                   : uint64_t(std::max(length, 0)) * format.channels * (format.containerBits / 8) >
                         bytes.size())
        Mismatch("OpenWave");
    model::Reader m(bytes.data(), bytes.size(), open);
    for (const Op& op : ops) {
        Apply(op, w, m);
        if (g_modelled && w.GetSampleLength() != (open.found ? open.result : 0))
            Mismatch("GetSampleLength");
        if (g_modelled && w.GetLoadedFrames() != m.loaded)
            Mismatch("loaded frame count");
    }
    CheckStream(bytes, anyWav ? CWave::kOpenAnyWav : CWave::kOpenPcm16, file.Path());
    return 0;
}
