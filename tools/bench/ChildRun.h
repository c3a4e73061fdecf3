#pragma once
// The benchmarks' child programs: each run to its end with its wall time and its own peak resident
// memory (getrusage), its standard output kept when a file is given for it; medians of several runs.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

struct TChildRun {
    double seconds = 0;
    double peakMB = 0;
    bool ok = false;      // ended with status 0
    std::string output;   // standard output, when kept
};

// Runs `args` (the program's path first); standard output goes to `outputFile` and is read back, or
// is dropped without one; standard error is dropped.
inline TChildRun RunChild(const std::vector<std::string>& args, const std::string& outputFile = std::string())
{
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputFile.empty())
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    TChildRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) < 0) return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!run.ok) std::fprintf(stderr, "failed: %s\n", args[0].c_str());
    if (FILE* in = outputFile.empty() ? nullptr : std::fopen(outputFile.c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) run.output.append(buffer, n);
        std::fclose(in);
    }
    return run;
}

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// A temporary folder for a benchmark (made from `pattern`, ending in XXXXXX), set up as a fresh user's
// for the children: their settings and logs stay in it, and their windows have no screen. Empty when
// the folder cannot be made.
inline std::filesystem::path FreshBenchUser(std::string pattern)
{
    if (!mkdtemp(pattern.data())) return {};
    const std::filesystem::path work = pattern;
    setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return work;
}
