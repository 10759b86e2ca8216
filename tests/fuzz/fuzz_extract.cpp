// SPDX-License-Identifier: GPL-3.0-or-later
// dat2file's extraction from an image held in memory: one file by its name, and every file of
// the image into a folder, whatever the sectors say. The input is the image's sectors as stored
// from each subheader on (2336 bytes each, from sector 0); its first byte, when odd, makes the
// sector named by the next two bytes unreadable. Where the image claims repair data, every
// member of every word is checked and the image read whole through it too. What is written
// goes to a scratch folder.

#include "cdimage/repair/repairdata.h"
#include "dat2file/commands.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr std::size_t kStored = 2336;

class Sectors : public cdimage::SectorSource {
public:
    Sectors(const std::uint8_t* data, std::size_t size, std::optional<std::uint32_t> lost)
        : m_count(std::uint32_t(size / kStored))
        , m_bytes(data, data + size)
        , m_lost(lost) {}
    std::uint32_t sectorCount() const override { return m_count; }
    const std::uint8_t* sector(std::uint32_t lba) override {
        if (lba >= m_count || lba == m_lost)
            return nullptr;
        return &m_bytes[std::size_t(lba) * kStored];
    }
    std::string whyUnreadable(std::uint32_t) const override { return "lost"; }

private:
    std::uint32_t m_count;
    std::vector<std::uint8_t> m_bytes;
    std::optional<std::uint32_t> m_lost;
};

std::filesystem::path g_scratch;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_scratch =
        std::filesystem::temp_directory_path() / ("fuzz_extract-" + std::to_string(::getpid()));
    std::filesystem::create_directories(g_scratch);
    std::freopen("/dev/null", "w", stdout); // the lines that say what was written
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3 || size > 2 * 1024 * 1024)
        return 0;
    std::optional<std::uint32_t> lost;
    if (data[0] & 1)
        lost = std::uint32_t(data[1] | data[2] << 8);
    Sectors sectors(data + 3, size - 3, lost);
    std::error_code ignored;
    std::filesystem::remove_all(g_scratch / "whole", ignored);
    try {
        (void)dat2file::extractFromDisc(sectors, "the image", "/A.DAT", g_scratch / "one", true);
    } catch (const std::exception&) {
    }
    try {
        (void)dat2file::extractImage(sectors, "the image", g_scratch / "whole", false);
    } catch (const std::exception&) {
    }
    if (auto found = cdimage::findRepairData(sectors)) { // and the repair data it may claim
        cdimage::RepairingSource repairing(sectors, std::move(*found));
        (void)repairing.survey({});
        std::filesystem::remove_all(g_scratch / "repaired", ignored);
        try {
            (void)dat2file::extractImage(repairing, "the image", g_scratch / "repaired", false);
        } catch (const std::exception&) {
        }
    }
    return 0;
}
