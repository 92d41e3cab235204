// pulseregen INPUT OUTPUT: finds the loud span of a 16-bit PCM WAV recording
// and writes it, regenerated as a clean square wave and followed by a
// fade-out block, to a 44.1 kHz 16-bit mono WAV file.
#include "Input.h"
#include "OutputFile.h"
#include "Regen.h"
#include "Wave.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
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

// The reason behind a failure, on standard error; the report on standard
// output stays as it is.
int Explain(const char* file, int error) {
    fprintf(stderr, "pulseregen: %s: %s\n", file, strerror(error ? error : EIO));
    return kFailed;
}

// 0, or the errno that refused the output.
int OpenOutput(regen::OutputFile& file, CWave& out, const char* path) {
    if (const int error = file.Prepare(path))
        return error;
    CWave::tOutputWaveFormat format = regen::kOutputFormat;
    if (out.OutputWave(file.WritePath(), &format) != 0)
        return out.GetWriteErrno() ? out.GetWriteErrno() : EIO;
    file.Opened();
    return 0;
}

// Finalises the output and installs it; 0 or the errno of the failure.
int FinishOutput(regen::OutputFile& file, CWave& out) {
    if (out.OutputWaveFinalize() != 0)
        return out.GetWriteErrno() ? out.GetWriteErrno() : EIO;
    return file.Commit();
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
    // A reader of standard output that goes away (| head -1) must not end the
    // run before the output is installed; the lost report fails it at the end.
    signal(SIGPIPE, SIG_IGN);
    // An output written in place (where no temporary file can be made beside
    // it) would truncate an input that is the same file.
    if (argc != 3 || regen::SameFile(regen::InputPath(argv[1]), argv[2]))
        return CloseStdout(Usage(program));

    regen::Input input;
    regen::OutputFile output; // declared before `out`, which closes first
    CWave in;
    CWave out;
    std::vector<short> block(regen::kBlockFrames);

    if (const int error = input.Prepare(argv[1])) {
        puts("Error: Input file can't open [0]");
        return CloseStdout(Explain(argv[1], error));
    }
    const int length = in.OpenWave(input.Path());
    if (length <= 0) {
        printf("Error: Input file can't open [%d]\n", length);
        return CloseStdout(kFailed);
    }
    if (const int error = OpenOutput(output, out, argv[2])) {
        puts("Error: Output file can't open");
        return CloseStdout(Explain(argv[2], error));
    }

    printf("Input Length = %d samples\n", in.GetSampleLength());
    const int blocks = in.GetSampleLength() / regen::kBlockFrames;
    std::vector<unsigned char> active;
    if (!regen::ScanActivity(in, block.data(), blocks, active))
        return CloseStdout(Explain(argv[1], errno));
    PrintVerdicts(active);

    const regen::Span span = regen::FindSpan(active);
    short level = 0;
    if (!regen::RegenerateSpan(in, out, block.data(), blocks, span, level))
        return CloseStdout(Explain(argv[1], errno));
    regen::AppendFade(out, block.data(), level);
    if (const int error = FinishOutput(output, out)) {
        puts("Error: Output file can't write");
        return CloseStdout(Explain(argv[2], error));
    }
    return CloseStdout(kOk);
}
