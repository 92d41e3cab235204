// Runs the real pulseregen program, without a shell, and captures what it
// prints and its exit status. In a cross build every run goes through the
// emulator, whose command words the build passes joined by '|' in
// PULSE_TEST_EMULATOR (empty for a native build).
#pragma once

#include "WavBytes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#if !defined(PULSEREGEN_PATH) || !defined(PULSE_TEST_EMULATOR)
#error "PULSEREGEN_PATH and PULSE_TEST_EMULATOR must name the program and its emulator"
#endif

extern char** environ;

namespace wavtest {

inline const std::string& ProgramPath() {
    static const std::string path = PULSEREGEN_PATH;
    return path;
}

inline std::vector<std::string> Emulator() {
    std::vector<std::string> words;
    std::string all = PULSE_TEST_EMULATOR, word;
    for (char c : all + "|") {
        if (c != '|') {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    return words;
}

struct Result {
    int status = -1;
    std::string out, err;
};

inline std::string FileText(const std::string& path) {
    const Bytes b = ReadFile(path);
    return std::string(b.begin(), b.end());
}

struct Started {
    pid_t pid = -1;
    std::string cwd, outPath;
    bool capture = false;
};

// Starts the program in `cwd` with `args`, standard output going to
// `stdoutPath` (a file in `cwd` when empty, whose text is returned) and
// standard input coming from `stdinPath` when one is given. `cwd` holds the
// standard error file too while the program runs.
inline Started StartTool(const std::string& cwd, const std::vector<std::string>& args,
                         const std::string& stdoutPath = "", const std::string& stdinPath = "") {
    std::vector<std::string> words = Emulator();
    words.push_back(ProgramPath());
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    Started s{-1, cwd, stdoutPath.empty() ? cwd + "/.stdout" : stdoutPath, stdoutPath.empty()};
    const std::string errPath = cwd + "/.stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    if (!stdinPath.empty())
        posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, s.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    const int spawned = posix_spawnp(&s.pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        s.pid = -1;
    }
    return s;
}

// Waits for a started program; `signal` is the signal expected to end it,
// 0 for a normal exit. With `seconds`, a run still going after them is
// killed and fails the test.
inline Result FinishTool(const Started& s, int signal = 0, int seconds = 0) {
    Result r;
    if (s.pid < 0)
        return r;
    int wstatus = 0;
    pid_t done = 0;
    for (int ticks = 0; (done = waitpid(s.pid, &wstatus, seconds ? WNOHANG : 0)) == 0; ++ticks) {
        if (ticks == seconds * 100) {
            kill(s.pid, SIGKILL);
            waitpid(s.pid, &wstatus, 0);
            ADD_FAILURE() << "the program was still running after " << seconds << " s";
            return r;
        }
        usleep(10000);
    }
    const bool asExpected =
        signal == 0 ? WIFEXITED(wstatus) : WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == signal;
    if (done != s.pid || !asExpected) {
        ADD_FAILURE() << "the program did not end as expected";
        return r;
    }
    r.status = signal == 0 ? WEXITSTATUS(wstatus) : 128 + signal;
    if (s.capture)
        r.out = FileText(s.outPath);
    const std::string errPath = s.cwd + "/.stderr";
    r.err = FileText(errPath);
    unlink(errPath.c_str());
    unlink((s.cwd + "/.stdout").c_str());
    return r;
}

inline Result RunTool(const std::string& cwd, const std::vector<std::string>& args,
                      const std::string& stdoutPath = "") {
    return FinishTool(StartTool(cwd, args, stdoutPath));
}

} // namespace wavtest
