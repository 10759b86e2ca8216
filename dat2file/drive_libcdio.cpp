// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/drive.h"

#include "dat2file/commands.h"
#include "dat2file/retryingreads.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>

#include <cstring>
#include <vector>

namespace dat2file {

namespace {

std::string g_lastMessage; // libcdio's last complaint, for the message that follows it

void keepMessage(cdio_log_level_t level, const char* message) {
    if (level >= CDIO_LOG_WARN && message)
        g_lastMessage = message;
}

std::unique_ptr<cdimage::SectorSource> open(const std::string& source, driver_id_t driver) {
    g_lastMessage.clear();
    std::shared_ptr<CdIo_t> cdio(cdio_open(source.c_str(), driver), [](CdIo_t* opened) {
        if (opened)
            cdio_destroy(opened);
    });
    if (!cdio)
        throw Failure("cannot open \"" + source + "\" as a " +
                      (driver == DRIVER_DEVICE ? "CD" : "Nero image") +
                      (g_lastMessage.empty() ? "" : ": " + g_lastMessage));
    const lsn_t last = cdio_get_disc_last_lsn(cdio.get());
    const std::uint32_t sectors = last < 0 ? 0 : std::uint32_t(last) + 1;
    ReadSectors read;
    if (driver == DRIVER_DEVICE) {
        read = [cdio](std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
            return cdio_read_mode2_sectors(cdio.get(), out, lsn_t(lba), true, count) ==
                   DRIVER_OP_SUCCESS;
        };
    } else {
        // An image file holds whole sectors: read as stored, from the subheader on.
        auto raw = std::make_shared<std::vector<std::uint8_t>>();
        read = [cdio, raw](std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
            raw->resize(std::size_t(count) * CDIO_CD_FRAMESIZE_RAW);
            if (cdio_read_audio_sectors(cdio.get(), raw->data(), lsn_t(lba), count) !=
                DRIVER_OP_SUCCESS)
                return false;
            for (std::uint32_t i = 0; i < count; ++i)
                std::memcpy(out + std::size_t(i) * M2RAW_SECTOR_SIZE,
                            raw->data() + std::size_t(i) * CDIO_CD_FRAMESIZE_RAW + 16,
                            M2RAW_SECTOR_SIZE);
            return true;
        };
    }
    return std::make_unique<RetryingReads>(std::move(read), sectors, "\"" + source + "\"");
}

} // namespace

void quietLibcdio() {
    cdio_log_set_handler(keepMessage);
}

std::unique_ptr<cdimage::SectorSource> openDrive(const std::string& device) {
    return open(device, DRIVER_DEVICE);
}

std::unique_ptr<cdimage::SectorSource> openNeroImage(const std::string& image) {
    return open(image, DRIVER_NRG);
}

} // namespace dat2file
