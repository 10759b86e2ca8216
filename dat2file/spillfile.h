// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where sectors read from a disc go once more of them are kept than memory should hold: a file
// of fixed-size blocks in a folder of the user's (beside what is written), that no one else can
// open and that vanishes when it is closed, however the run ends (an unnamed file on Linux, a
// file deleted on close on Windows).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace dat2file {

class SpillFile {
public:
    // A file of blocks of `blockSize` bytes in `folder`; when it cannot be made there,
    // isOpen() is false and every write fails.
    SpillFile(const std::filesystem::path& folder, std::size_t blockSize);

    bool isOpen() const { return m_file != nullptr; }
    // Writes `bytes` (blockSize of them) as block `index`; false where the disk refuses.
    bool write(std::uint64_t index, const std::uint8_t* bytes);
    // Reads block `index` into `into`; false where it cannot.
    bool read(std::uint64_t index, std::uint8_t* into);

private:
    bool seek(std::uint64_t index);

    struct Close {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Close> m_file;
    std::size_t m_blockSize;
    bool m_writing = false; // the last call wrote: stdio needs a seek between the two
};

} // namespace dat2file
