// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/drive.h"

#include "dat2file/adaptivereads.h"
#include "dat2file/commands.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/mmc.h>
#include <cdio/mmc_ll_cmds.h>

#include <array>
#include <cstring>
#include <optional>
#include <vector>

namespace dat2file {

namespace {

std::string g_lastMessage; // libcdio's last complaint, for the message that follows it

void keepMessage(cdio_log_level_t level, const char* message) {
    if (level >= CDIO_LOG_WARN && message)
        g_lastMessage = message;
}

// The sector a failed read stopped at, as the drive's sense data names it (its INFORMATION
// field, where valid), counted from `lba`; nothing where it does not say.
std::optional<std::uint32_t> failedAt(CdIo_t* cdio, std::uint32_t lba, std::uint32_t count) {
    cdio_mmc_request_sense_t* sense = nullptr;
    const int size = mmc_last_cmd_sense(cdio, &sense);
    std::optional<std::uint32_t> at;
    if (sense && size >= 7 && sense->valid) {
        const std::uint32_t failed = std::uint32_t(sense->information[0]) << 24 |
                                     std::uint32_t(sense->information[1]) << 16 |
                                     std::uint32_t(sense->information[2]) << 8 |
                                     sense->information[3];
        if (failed >= lba && failed - lba < count)
            at = failed - lba;
    }
    cdio_free(sense);
    return at;
}

// The drive's Read-Write Error Recovery mode page (MMC): its Read Retry Count lowered while a
// damaged disc is read, and put back as it was.
class RetryPage {
public:
    explicit RetryPage(std::shared_ptr<CdIo_t> cdio)
        : m_cdio(std::move(cdio)) {}

    bool set(int retries) {
        if (!m_saved && !save())
            return false;
        std::array<std::uint8_t, kSize> page = *m_saved;
        page[m_at + 3] = std::uint8_t(retries);
        return select(page);
    }
    bool restore() { return m_saved && select(*m_saved); }

private:
    static constexpr std::size_t kSize = 64;
    static constexpr int kPageFormat = 0x10; // MODE SELECT's PF bit

    bool save() {
        std::array<std::uint8_t, kSize> sensed{};
        if (mmc_mode_sense_10(m_cdio.get(), sensed.data(), kSize, CDIO_MMC_R_W_ERROR_PAGE) !=
            DRIVER_OP_SUCCESS)
            return false;
        const std::size_t descriptors = std::size_t(sensed[6]) << 8 | sensed[7];
        m_at = 8 + descriptors;
        if (m_at + 4 > kSize || (sensed[m_at] & 0x3F) != CDIO_MMC_R_W_ERROR_PAGE)
            return false;
        m_length = std::min(kSize, m_at + 2 + sensed[m_at + 1]);
        sensed[0] = sensed[1] = 0; // the mode data length is reserved in MODE SELECT
        sensed[m_at] &= 0x3F;      // and so is the page's PS bit
        m_saved = sensed;
        return true;
    }
    bool select(std::array<std::uint8_t, kSize> page) {
        return mmc_mode_select_10(m_cdio.get(), page.data(), unsigned(m_length), kPageFormat, 0) ==
               DRIVER_OP_SUCCESS;
    }

    std::shared_ptr<CdIo_t> m_cdio;
    std::optional<std::array<std::uint8_t, kSize>> m_saved;
    std::size_t m_at = 0, m_length = 0;
};

} // namespace

void quietLibcdio() {
    cdio_log_set_handler(keepMessage);
}

std::unique_ptr<cdimage::SectorSource> openDrive(const std::string& device,
                                                 const std::filesystem::path& keepIn) {
    g_lastMessage.clear();
    std::shared_ptr<CdIo_t> cdio(cdio_open(device.c_str(), DRIVER_DEVICE), [](CdIo_t* opened) {
        if (opened)
            cdio_destroy(opened);
    });
    if (!cdio)
        throw Failure("cannot open \"" + device + "\" as a CD" +
                      (g_lastMessage.empty() ? "" : ": " + g_lastMessage));
    const lsn_t last = cdio_get_disc_last_lsn(cdio.get());
    const std::uint32_t sectors = last < 0 ? 0 : std::uint32_t(last) + 1;
    // A disc of several sessions (an Enhanced CD): its file system is the last session's.
    lsn_t lastSession = 0;
    if (cdio_get_last_session(cdio.get(), &lastSession) != DRIVER_OP_SUCCESS || lastSession < 0 ||
        std::uint32_t(lastSession) >= sectors)
        lastSession = 0;
    ReadRun read = [cdio](std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
        const auto readAll = [&](std::uint32_t from, std::uint32_t many, std::uint8_t* into) {
            return cdio_read_mode2_sectors(cdio.get(), into, lsn_t(from), true, many) ==
                   DRIVER_OP_SUCCESS;
        };
        if (readAll(lba, count, out))
            return count;
        // The sectors before the one that failed, read again on their own: what a failed
        // command left in the buffer is not trusted. A drive that does not say which failed
        // is asked by halves.
        const std::optional<std::uint32_t> before = failedAt(cdio.get(), lba, count);
        if (!before)
            return readBeforeFailureByHalves(readAll, lba, count, out);
        return *before > 0 && readAll(lba, *before, out) ? *before : 0;
    };
    auto page = std::make_shared<RetryPage>(cdio);
    DriveKnobs knobs{[page](int retries) { return page->set(retries); },
                     [page] { return page->restore(); },
                     [cdio](int speed) {
                         // SET CD SPEED: 0xFFFF kB/s is the drive's fastest.
                         return speed == DriveKnobs::kFastest
                                    ? mmc_set_speed(cdio.get(), 0xFFFF, 0) >= 0
                                    : cdio_set_speed(cdio.get(), speed) == DRIVER_OP_SUCCESS;
                     }};
    return std::make_unique<AdaptiveReads>(std::move(read), std::move(knobs), sectors,
                                           "\"" + device + "\"", std::uint32_t(lastSession),
                                           Keeping{keepIn});
}

} // namespace dat2file
