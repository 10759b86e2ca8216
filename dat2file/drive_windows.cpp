// SPDX-License-Identifier: GPL-3.0-or-later
#include "dat2file/drive_windows.h"

#include "cdimage/base/paths.h"
#include "cdimage/base/sector.h"
#include "cdimage/format/iso9660.h"
#include "dat2file/adaptivereads.h"
#include "dat2file/commands.h"
#include "dat2file/drive.h"
#include "dat2file/retryingreads.h"

#include <ntddcdrm.h>

#include <cstring>
#include <system_error>
#include <vector>

namespace dat2file {

namespace {

// Sectors before LBA 0: the two-second pregap that MSF addresses count.
constexpr std::uint32_t kPregap = 150;

std::uint32_t fromBcd(std::uint8_t value) {
    return (value >> 4) * 10u + (value & 0x0F);
}

// The disc's length in sectors, from the lead-out's address in the table of contents.
std::uint32_t discLength(const DriveControl& control, const std::string& device) {
    CDROM_TOC toc{};
    DWORD returned = 0;
    if (!control(IOCTL_CDROM_READ_TOC, nullptr, 0, &toc, sizeof toc, &returned) || returned < 4 ||
        toc.LastTrack < toc.FirstTrack ||
        toc.LastTrack - toc.FirstTrack + 1 >= MAXIMUM_NUMBER_TRACKS)
        throw Failure("the drive " + device +
                      " gives no table of contents: is there a CD in it, and is it a CD drive?");
    const TRACK_DATA& leadOut = toc.TrackData[toc.LastTrack - toc.FirstTrack + 1];
    const std::uint32_t address =
        (std::uint32_t(leadOut.Address[1]) * 60 + leadOut.Address[2]) * 75 + leadOut.Address[3];
    return address > kPregap ? address - kPregap : 0;
}

// Whether a raw sector is the one asked for: a drive that lost its place hands over another.
bool isSector(const std::uint8_t* raw, std::uint32_t lba) {
    if (std::memcmp(raw, cdimage::kSyncPattern, sizeof cdimage::kSyncPattern) != 0)
        return false;
    const std::uint32_t address =
        (fromBcd(raw[12]) * 60 + fromBcd(raw[13])) * 75 + fromBcd(raw[14]);
    return address == lba + kPregap && raw[15] == 2;
}

ReadSectors rawReads(DriveControl control) {
    auto raw = std::make_shared<std::vector<std::uint8_t>>();
    return [control = std::move(control), raw](std::uint32_t lba, std::uint32_t count,
                                               std::uint8_t* out) {
        raw->assign(std::size_t(count) * cdimage::kRawSectorSize, 0);
        RAW_READ_INFO asked{};
        asked.DiskOffset.QuadPart = LONGLONG(lba) * cdimage::kLogicalBlockSize;
        asked.SectorCount = count;
        asked.TrackMode = XAForm2; // whole sectors: sync, header, subheader and 2324 bytes
        DWORD returned = 0;
        if (!control(IOCTL_CDROM_RAW_READ, &asked, sizeof asked, raw->data(), DWORD(raw->size()),
                     &returned) ||
            returned != raw->size())
            return false;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* sector = raw->data() + std::size_t(i) * cdimage::kRawSectorSize;
            if (!isSector(sector, lba + i))
                return false;
            std::memcpy(out + std::size_t(i) * cdimage::kStoredSectorSize,
                        sector + cdimage::kRawSectorSize - cdimage::kStoredSectorSize,
                        cdimage::kStoredSectorSize);
        }
        return true;
    };
}

} // namespace

std::unique_ptr<cdimage::SectorSource> driveSectors(DriveControl control, const std::string& device,
                                                    Keeping keeping) {
    const std::uint32_t sectors = discLength(control, device);
    // The driver's own speed request; its retries are out of reach (only a SCSI pass-through,
    // which needs an administrator, could change them).
    DriveKnobs knobs;
    knobs.setSpeed = [control](int speed) {
        CDROM_SET_SPEED asked{};
        asked.RequestType = CdromSetSpeed;
        asked.ReadSpeed = speed == DriveKnobs::kFastest ? 0xFFFF : USHORT(speed * 176);
        asked.WriteSpeed = 0xFFFF;
        asked.RotationControl = CdromDefaultRotation;
        DWORD returned = 0;
        return control(IOCTL_CDROM_SET_SPEED, &asked, sizeof asked, nullptr, 0, &returned);
    };
    // The driver says only that a run failed, not where: where, is found by halves.
    ReadRun read = [reads = rawReads(std::move(control))](std::uint32_t lba, std::uint32_t count,
                                                          std::uint8_t* out) {
        return reads(lba, count, out) ? count : readBeforeFailureByHalves(reads, lba, count, out);
    };
    return std::make_unique<AdaptiveReads>(std::move(read), std::move(knobs), sectors, device, 0,
                                           std::move(keeping));
}

void quietLibcdio() {}

std::unique_ptr<cdimage::SectorSource> openDrive(const std::string& device,
                                                 const std::filesystem::path& keepIn) {
    const std::filesystem::path path = cdimage::pathOfUtf8(device);
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        throw Failure("cannot open the drive " + device + ": " +
                      std::system_category().message(int(::GetLastError())));
    const auto shared = std::shared_ptr<void>(handle, ::CloseHandle);
    return driveSectors(
        [shared](DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
            return ::DeviceIoControl(shared.get(), code, in, inSize, out, outSize, returned,
                                     nullptr) != FALSE;
        },
        device, Keeping{keepIn});
}

} // namespace dat2file
