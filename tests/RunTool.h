// Runs the real pulseregen program, without a shell, and captures what it
// prints and its exit status. In a cross build every run goes through the
// emulator, whose command words the build passes joined by '|' in
// PULSE_TEST_EMULATOR (empty for a native build).
#pragma once

#include "WavBytes.h"

#include <gtest/gtest.h>

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

// Runs the program in `cwd` with `args`, standard output going to `stdoutPath`
// (a file in `cwd` when empty, whose text is returned). `cwd` holds the
// standard error file too while the program runs.
inline Result RunTool(const std::string& cwd, const std::vector<std::string>& args,
                      const std::string& stdoutPath = "") {
    std::vector<std::string> words = Emulator();
    words.push_back(ProgramPath());
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    const std::string outPath = stdoutPath.empty() ? cwd + "/.stdout" : stdoutPath;
    const std::string errPath = cwd + "/.stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    Result r;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return r;
    }
    int wstatus = 0;
    if (waitpid(pid, &wstatus, 0) != pid || !WIFEXITED(wstatus)) {
        ADD_FAILURE() << "the program did not exit normally";
        return r;
    }
    r.status = WEXITSTATUS(wstatus);
    if (stdoutPath.empty())
        r.out = FileText(outPath);
    r.err = FileText(errPath);
    unlink(errPath.c_str());
    unlink((cwd + "/.stdout").c_str());
    return r;
}

} // namespace wavtest
