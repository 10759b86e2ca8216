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

} // namespace

void quietLibcdio() {
    cdio_log_set_handler(keepMessage);
}

std::unique_ptr<cdimage::SectorSource> openDrive(const std::string& device) {
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
    ReadSectors read = [cdio](std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
        return cdio_read_mode2_sectors(cdio.get(), out, lsn_t(lba), true, count) ==
               DRIVER_OP_SUCCESS;
    };
    return std::make_unique<RetryingReads>(std::move(read), sectors, "\"" + device + "\"",
                                           std::uint32_t(lastSession));
}

} // namespace dat2file
