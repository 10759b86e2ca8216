// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The parity of an image's protected sectors encoded on a thread of its own while the image is
// still being written: each batch of bands once it is whole on the file, read back from it (the
// page cache), so that writing, summing and encoding share the cores.

#include "cdimage/read/sectorsource.h"
#include "cdimage/repair/repairdata.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace cdimage {

class ParityAsWritten {
public:
    // `open` gives a source of what is on the file so far; `eachBlock` is called before each
    // block of words, on whatever thread encodes it, and may throw to stop.
    ParityAsWritten(const RepairLayout& layout, ParityBuilder::Opener open,
                    std::function<void()> eachBlock);
    // Stops encoding (the build failed or was stopped) and waits for the thread.
    ~ParityAsWritten();
    ParityAsWritten(const ParityAsWritten&) = delete;
    ParityAsWritten& operator=(const ParityAsWritten&) = delete;

    // The sectors before `end` are on the file.
    void written(std::uint32_t end);
    // The sectors before `end` are all that the file will hold of the protected ones (those
    // from `end` on come by ParityBuilder::add): the bands not yet encoded are, on `threads`
    // threads, and the parity so far is given. Throws what encoding threw.
    std::unique_ptr<ParityBuilder> finish(std::uint32_t end, unsigned threads);

private:
    void encodeWhileWritten();

    std::unique_ptr<ParityBuilder> m_parity;
    ParityBuilder::Opener m_open;
    std::function<void()> m_eachBlock;
    int m_batch; // the fewest bands the thread encodes at once: few passes over the parity

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::uint32_t m_written = 0; // guarded by m_lock, as the three below
    bool m_ending = false;
    bool m_stopping = false;
    std::shared_ptr<ParityBuilder::Bands> m_current; // the batch under way, if any
    int m_encoded = 0; // bands before it are in the parity; only the thread changes it
    std::exception_ptr m_failure;
    std::thread m_thread;
};

} // namespace cdimage
