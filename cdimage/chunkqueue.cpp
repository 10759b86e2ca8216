#include "cdimage/chunkqueue.h"

namespace cdimage {

ChunkQueue::ChunkQueue(std::function<void(ChunkQueue&)> produce)
    : m_thread([this, produce = std::move(produce)] { run(produce); }) {}

ChunkQueue::~ChunkQueue() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void ChunkQueue::run(const std::function<void(ChunkQueue&)>& produce) {
    std::string error;
    try {
        produce(*this);
    } catch (const Stopped&) {
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    const std::lock_guard lock(m_mutex);
    m_error = error;
    m_ended = true;
    m_changed.notify_all();
}

ChunkQueue::Chunk ChunkQueue::spare() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_full.size() < kAhead || m_stopping; });
    if (m_stopping)
        throw Stopped{};
    if (m_spare.empty())
        return {};
    Chunk chunk = std::move(m_spare.back());
    m_spare.pop_back();
    return chunk;
}

void ChunkQueue::push(Chunk chunk) {
    const std::lock_guard lock(m_mutex);
    m_full.push_back(std::move(chunk));
    m_changed.notify_all();
}

std::optional<ChunkQueue::Chunk> ChunkQueue::next() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_full.empty() || m_ended; });
    if (!m_full.empty()) {
        Chunk chunk = std::move(m_full.front());
        m_full.pop_front();
        m_changed.notify_all();
        return chunk;
    }
    if (!m_error.empty())
        throw std::runtime_error(m_error);
    return std::nullopt;
}

void ChunkQueue::recycle(Chunk chunk) {
    const std::lock_guard lock(m_mutex);
    m_spare.push_back(std::move(chunk));
}

} // namespace cdimage
