// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/write/parityaswritten.h"

#include "cdimage/base/error.h"

#include <algorithm>

namespace cdimage {

namespace {

// Encoding is split into about this many batches at least: each one after the first adds its
// share to the whole parity (100 MB for a full disc).
constexpr int kBatches = 8;

} // namespace

ParityAsWritten::ParityAsWritten(const RepairLayout& layout, ParityBuilder::Opener open,
                                 std::function<void()> eachBlock)
    : m_parity(std::make_unique<ParityBuilder>(layout))
    , m_open(std::move(open))
    , m_eachBlock(std::move(eachBlock))
    , m_batch(std::max(1, (layout.dataBands() + kBatches - 1) / kBatches))
    , m_thread([this] { encodeWhileWritten(); }) {}

ParityAsWritten::~ParityAsWritten() {
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void ParityAsWritten::written(std::uint32_t end) {
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_written = std::max(m_written, end);
    }
    m_changed.notify_all();
}

void ParityAsWritten::encodeWhileWritten() {
    const RepairLayout& layout = m_parity->layout();
    const auto stopOrEach = [this] {
        {
            const std::lock_guard<std::mutex> lock(m_lock);
            if (m_stopping)
                throw Error("stopped");
        }
        if (m_eachBlock)
            m_eachBlock();
    };
    try {
        for (;;) {
            std::shared_ptr<ParityBuilder::Bands> bands;
            int whole = 0; // bands whole on the file
            {
                std::unique_lock<std::mutex> lock(m_lock);
                m_changed.wait(lock, [&] {
                    whole = int(std::min<std::uint64_t>(m_written / layout.bandLength,
                                                        std::uint64_t(layout.dataBands())));
                    return m_stopping || m_ending || whole - m_encoded >= m_batch;
                });
                if (m_stopping || m_ending)
                    return;
                bands = std::make_shared<ParityBuilder::Bands>(*m_parity, m_open, m_encoded, whole,
                                                               m_written, stopOrEach);
                m_current = bands;
            }
            bands->work();
            {
                const std::lock_guard<std::mutex> lock(m_lock);
                m_current.reset();
            }
            bands->finish(); // once finish() has helped, if it has
            m_encoded = whole;
        }
    } catch (...) {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_failure = std::current_exception();
    }
}

std::unique_ptr<ParityBuilder> ParityAsWritten::finish(std::uint32_t end, unsigned threads) {
    std::shared_ptr<ParityBuilder::Bands> underWay;
    {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_written = std::max(m_written, end);
        m_ending = true;
        underWay = m_current;
    }
    m_changed.notify_all();
    if (underWay) // this thread helps with the batch under way rather than wait for it
        underWay->work();
    m_thread.join();
    if (m_failure)
        std::rethrow_exception(m_failure);
    m_parity->encodeBands(m_open, m_encoded, m_parity->layout().dataBands(), end, threads,
                          m_eachBlock);
    return std::move(m_parity);
}

} // namespace cdimage
