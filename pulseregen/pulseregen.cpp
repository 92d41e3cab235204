// pulseregen INPUT OUTPUT: finds the loud span of a 16-bit PCM WAV recording
// and writes it, regenerated as a clean square wave and followed by a
// fade-out block, to a 44.1 kHz 16-bit mono WAV file.
#include "Regen.h"
#include "Wave.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

enum Status { kOk = 0, kFailed = 1, kUsage = 2 };

int Usage(const char* program) {
    printf("usage: %s [input(.wav)] [output(.wav)]\n", program);
    puts("The same filename for input and output is not acceptable.");
    return kUsage;
}

void PrintVerdicts(const std::vector<unsigned char>& active) {
    for (size_t b = 1; b < active.size(); ++b)
        printf("%zu: %s\n", b, active[b] ? "Valid" : "Invalid");
}

// An output that could not be written whole would still claim, in its
// header, samples it does not hold. A regular file is removed; a device or a
// pipe (/dev/full, say) is left alone.
void DiscardOutput(const char* path) {
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISREG(st.st_mode))
        unlink(path);
}

// The report on standard output is part of the result: losing it is a failure.
int CloseStdout(int status) {
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "pulseregen: cannot write to standard output\n");
        return kFailed;
    }
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    const char* program = argc > 0 ? argv[0] : "pulseregen";
    // Creating the output would truncate an input that is the same file.
    if (argc != 3 || regen::SameFile(argv[1], argv[2]))
        return CloseStdout(Usage(program));

    CWave in;
    CWave out;
    std::vector<short> block(regen::kBlockFrames);

    const int length = in.OpenWave(argv[1]);
    if (length <= 0) {
        printf("Error: Input file can't open [%d]\n", length);
        return CloseStdout(kFailed);
    }
    CWave::tOutputWaveFormat format = regen::kOutputFormat;
    if (out.OutputWave(argv[2], &format) != 0) {
        puts("Error: Output file can't open");
        return CloseStdout(kFailed);
    }

    printf("Input Length = %d samples\n", in.GetSampleLength());
    const int blocks = in.GetSampleLength() / regen::kBlockFrames;
    std::vector<unsigned char> active;
    if (!regen::ScanActivity(in, block.data(), blocks, active))
        return CloseStdout(kFailed);
    PrintVerdicts(active);

    const regen::Span span = regen::FindSpan(active);
    short level = 0;
    if (!regen::RegenerateSpan(in, out, block.data(), blocks, span, level)) {
        DiscardOutput(argv[2]);
        return CloseStdout(kFailed);
    }
    regen::AppendFade(out, block.data(), level);
    if (out.OutputWaveFinalize() != 0) {
        DiscardOutput(argv[2]);
        puts("Error: Output file can't write");
        return CloseStdout(kFailed);
    }
    return CloseStdout(kOk);
}
