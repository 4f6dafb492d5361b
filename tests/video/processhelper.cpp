// Child program for the process-controller tests. Usage: processhelper LOGFILE MODE [EXTRA...]
// On start it appends "<pid> MODE EXTRA..." as one line to LOGFILE, then:
//   exit:N            exits normally with code N
//   abort             crashes (abort)
//   crash-once:FILE   crashes if FILE does not exist (creating it first), otherwise runs
//   spew              writes 1 MiB to standard output and to standard error, logs "spewed", runs
//   run               runs until it is killed
//   say-exit:N        writes each EXTRA as a line to standard error, then exits with code N
//   say-abort         writes each EXTRA as a line to standard error, then crashes
//   say-run           writes each EXTRA as a line to standard error, then runs
// "Runs" means sleeping in a loop, for at most two minutes, so a lost child cannot outlive the tests.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

void appendLine(const char *path, const std::string &line)
{
    std::ofstream out(path, std::ios::app);
    out << line << '\n';
}

int runUntilKilled()
{
    for (int i = 0; i < 1200; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s LOGFILE MODE [EXTRA...]\n", argv[0]);
        return 2;
    }
    const char *log = argv[1];
    const std::string mode = argv[2];
    std::string line = std::to_string(getpid());
    for (int i = 2; i < argc; ++i)
        line += std::string(" ") + argv[i];
    appendLine(log, line);

    if (mode.rfind("exit:", 0) == 0)
        return std::atoi(mode.c_str() + 5);
    if (mode == "abort")
        std::abort();
    if (mode.rfind("crash-once:", 0) == 0) {
        const std::string marker = mode.substr(11);
        if (access(marker.c_str(), F_OK) != 0) {
            appendLine(marker.c_str(), "crashed");
            std::abort();
        }
        return runUntilKilled();
    }
    if (mode == "spew") {
        const std::string chunk(4096, 'x');
        for (int i = 0; i < 256; ++i) {
            std::fwrite(chunk.data(), 1, chunk.size(), stdout);
            std::fwrite(chunk.data(), 1, chunk.size(), stderr);
        }
        std::fflush(stdout);
        std::fflush(stderr);
        appendLine(log, "spewed");
        return runUntilKilled();
    }
    if (mode == "run")
        return runUntilKilled();
    if (mode.rfind("say-", 0) == 0) {
        for (int i = 3; i < argc; ++i)
            std::fprintf(stderr, "%s\n", argv[i]);
        std::fflush(stderr);
        if (mode.rfind("say-exit:", 0) == 0)
            return std::atoi(mode.c_str() + 9);
        if (mode == "say-abort")
            std::abort();
        if (mode == "say-run")
            return runUntilKilled();
    }
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
