// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in tool for the console window, doing what its first argument says:
//   lines N      N lines on standard output, a progress line after each tenth, status 0
//   fail S       a line on each channel, the last on standard error, then status S
//   crash        ends by SIGABRT
//   wait         a progress line, then waits for a signal; SIGTERM ends it by SIGTERM
//   flood BYTES  BYTES of 100-character lines on standard output, as fast as it can, status 0
//   detail TEXT  a progress line with TEXT as its detail, TEXT on standard error, status 1
//   mixed BYTES  BYTES of mixed output: runs of short lines, progress lines, lines of 200,000
//                characters written in pieces, lines on standard error; status 0
//   short N      N lines of "y" on standard output, as fast as it can, status 0
//   long N       two empty lines, one line of N characters written in pieces, then "end"
//   stubborn F   ignores SIGTERM; writes its process id to the file F, then "tick" every 100 ms
//                for a minute

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <unistd.h>

// This process's number as the system at large has it: under the console it runs in a PID
// namespace of its own, where getpid() gives another.
static long processNumberAtLarge() {
#ifdef __linux__
    char target[32] = {};
    if (::readlink("/proc/self", target, sizeof target - 1) > 0)
        return std::atol(target);
#endif
    return static_cast<long>(getpid());
}

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    const long long count = argc > 2 ? std::atoll(argv[2]) : 0;
    if (what == "lines") {
        for (long long i = 1; i <= count; ++i) {
            std::printf("line %lld\n", i);
            if (i % 10 == 0) {
                std::fflush(stdout);
                std::fprintf(stderr, "scripted_tool: progress %lld%% line %lld\n", i * 100 / count,
                             i);
            }
        }
        return 0;
    }
    if (what == "fail") {
        std::printf("working\n");
        std::fflush(stdout);
        std::fprintf(stderr, "scripted_tool: first problem\nscripted_tool: the real reason\n");
        // Damage told (3 and over): the run went to its end, and says what it came to last.
        if (count >= 3)
            std::printf("scripted_tool: wrote 2 files, 1 damaged\n");
        return int(count);
    }
    if (what == "crash")
        std::abort();
    if (what == "wait") {
        std::fprintf(stderr, "scripted_tool: progress 10%%\n");
        for (int i = 0; i < 600; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return 0;
    }
    if (what == "flood") {
        std::string line(99, 'x');
        line += '\n';
        for (long long written = 0; written < count; written += static_cast<long long>(line.size()))
            std::fwrite(line.data(), 1, line.size(), stdout);
        return 0;
    }
    if (what == "detail" && argc > 2) {
        std::fprintf(stderr, "scripted_tool: progress 50%% %s\n%s\n", argv[2], argv[2]);
        return 1;
    }
    if (what == "mixed") {
        const std::string longPiece(50000, 'z');
        long long written = 0;
        for (int round = 0; written < count; ++round) {
            for (int i = 0; i < 1000; ++i)
                written += std::printf("line %d of round %d\n", i, round);
            for (int i = 0; i < 4; ++i)
                written += static_cast<long long>(
                    std::fwrite(longPiece.data(), 1, longPiece.size(), stdout));
            written += std::printf("\n");
            std::fflush(stdout);
            std::fprintf(stderr, "scripted_tool: progress %lld%% round %d\n",
                         std::min<long long>(100, written * 100 / count), round);
            std::fprintf(stderr, "scripted_tool: a warning in round %d\n", round);
        }
        return 0;
    }
    if (what == "short") {
        for (long long i = 0; i < count; ++i)
            std::fputs("y\n", stdout);
        return 0;
    }
    if (what == "long") {
        std::fputs("\n\n", stdout);
        const std::string piece(1000, 'x');
        for (long long written = 0; written < count; written += 1000) {
            std::fwrite(piece.data(), 1, std::size_t(std::min<long long>(1000, count - written)),
                        stdout);
            if (written % 50000 == 0)
                std::fflush(stdout);
        }
        std::fputs("\nend\n", stdout);
        return 0;
    }
    if (what == "stubborn") {
        std::signal(SIGTERM, SIG_IGN);
        if (argc > 2)
            if (std::FILE* file = std::fopen(argv[2], "w")) {
                std::fprintf(file, "%ld\n", processNumberAtLarge());
                std::fclose(file);
            }
        for (int i = 0; i < 600; ++i) {
            std::puts("tick");
            std::fflush(stdout);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return 0;
    }
    return 2;
}
