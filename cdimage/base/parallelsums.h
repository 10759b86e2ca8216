// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Computes the SHA-256 of a series of files on a thread of its own, from the chunks of data the
// caller has read and used, so that summing and the caller's work (writing an image or a
// file) go on at once on the machine's two cores.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cdimage {

class ParallelSums {
public:
    ParallelSums();
    ~ParallelSums();
    ParallelSums(const ParallelSums&) = delete;
    ParallelSums& operator=(const ParallelSums&) = delete;

    // A buffer to read into: one the summing thread is done with, once few enough wait.
    std::vector<std::uint8_t> spare();
    // The next chunk of the current file.
    void add(std::vector<std::uint8_t> chunk);
    // The current file is complete; the next chunk starts the next file.
    void endFile();
    // Every file's sum (64 lower-case hex digits), once all have been summed.
    std::vector<std::string> sums();

private:
    static constexpr std::size_t kAhead = 4;

    struct Item {
        std::vector<std::uint8_t> chunk;
        bool endOfFile = false;
    };

    void enqueue(Item item);
    void run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Item> m_waiting;
    std::vector<std::vector<std::uint8_t>> m_spare;
    std::vector<std::string> m_sums;
    bool m_busy = false;
    bool m_stopping = false;
    std::thread m_thread; // last: starts once everything above exists
};

} // namespace cdimage
