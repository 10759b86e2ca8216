// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/base/parallelsums.h"

#include "cdimage/base/sha256.h"

namespace cdimage {

ParallelSums::ParallelSums()
    : m_thread([this] { run(); }) {}

ParallelSums::~ParallelSums() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

std::vector<std::uint8_t> ParallelSums::spare() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_waiting.size() < kAhead; });
    if (m_spare.empty())
        return {};
    std::vector<std::uint8_t> buffer = std::move(m_spare.back());
    m_spare.pop_back();
    buffer.clear();
    return buffer;
}

void ParallelSums::add(std::vector<std::uint8_t> chunk) {
    enqueue({std::move(chunk), false});
}

void ParallelSums::endFile() {
    enqueue({{}, true});
}

std::vector<std::string> ParallelSums::sums() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_waiting.empty() && !m_busy; });
    return m_sums;
}

void ParallelSums::enqueue(Item item) {
    const std::lock_guard lock(m_mutex);
    m_waiting.push_back(std::move(item));
    m_changed.notify_all();
}

void ParallelSums::run() {
    Sha256 hash;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_waiting.empty() || m_stopping; });
        if (m_waiting.empty())
            return;
        Item item = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_busy = true;
        lock.unlock();
        std::string sum;
        if (item.endOfFile) {
            sum = hash.hex();
            hash.restart();
        } else {
            hash.add(item.chunk.data(), item.chunk.size());
        }
        lock.lock();
        if (item.endOfFile)
            m_sums.push_back(std::move(sum));
        else
            m_spare.push_back(std::move(item.chunk));
        m_busy = false;
        m_changed.notify_all();
    }
}

} // namespace cdimage
