#pragma once

// Hands chunks of bytes from a thread that produces them (reading a file or a disc) to the
// thread that consumes them (writing), at most a few chunks ahead, so that the two work at
// once on the machine's cores.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace cdimage {

class ChunkQueue {
public:
    using Chunk = std::vector<std::uint8_t>;

    // Starts `produce` on a thread of its own. It takes buffers with spare(), fills them and
    // hands them over with push(); an exception it throws reaches the consumer's next().
    explicit ChunkQueue(std::function<void(ChunkQueue&)> produce);
    // Stops the producer (its next spare() throws Stopped) and waits for it.
    ~ChunkQueue();
    ChunkQueue(const ChunkQueue&) = delete;
    ChunkQueue& operator=(const ChunkQueue&) = delete;

    struct Stopped {};

    // Producer side.
    Chunk spare();
    void push(Chunk chunk);

    // Consumer side: the next chunk, or nothing once the producer has ended.
    std::optional<Chunk> next();
    void recycle(Chunk chunk);

private:
    static constexpr std::size_t kAhead = 4;

    void run(const std::function<void(ChunkQueue&)>& produce);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Chunk> m_full;
    std::vector<Chunk> m_spare;
    std::string m_error;
    bool m_ended = false;
    bool m_stopping = false;
    std::thread m_thread; // last: starts once everything above exists
};

} // namespace cdimage
