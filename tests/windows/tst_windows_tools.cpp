// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows layer of the tools: the CD drive read through DeviceIoControl (a stand-in drive
// that loses, fumbles and misplaces sectors), files created exclusively and placed without
// replacing, a file's identity and dates, SHA-256 without OpenSSL, and a stop by Ctrl+Break.

#include "cdimage/base/paths.h"
#include "cdimage/base/sector.h"
#include "cdimage/base/sha256.h"
#include "cdimage/format/filefacts.h"
#include "cdimage/write/outputfile.h"
#include "dat2file/drive_windows.h"

#include <windows.h>

#include <ntddcdrm.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

int g_failures = 0;

void check(bool condition, const char* what, int line) {
    if (!condition) {
        std::fprintf(stderr, "FAIL line %d: %s\n", line, what);
        ++g_failures;
    }
}
#define CHECK(condition) check((condition), #condition, __LINE__)

std::uint8_t bcd(std::uint32_t value) {
    return std::uint8_t(value / 10 * 16 + value % 10);
}

// A CD of `sectors` sectors whose drive misbehaves as told: `lost` sectors are never read,
// `flaky` ones fail their first read, `misplaced` ones come with another sector's address.
struct StandInDrive {
    std::uint32_t sectors = 100;
    std::map<std::uint32_t, int> flaky; // sector → reads that fail before one works
    std::vector<std::uint32_t> lost, misplaced;
    std::vector<USHORT> speeds; // every read speed asked, in kB/s
    int reads = 0;

    bool control(DWORD code, void* in, DWORD, void* out, DWORD outSize, DWORD* returned) {
        if (code == IOCTL_CDROM_SET_SPEED) {
            const auto* asked = static_cast<const CDROM_SET_SPEED*>(in);
            speeds.push_back(asked->ReadSpeed);
            return asked->RequestType == CdromSetSpeed;
        }
        if (code == IOCTL_CDROM_READ_TOC) {
            auto* toc = static_cast<CDROM_TOC*>(out);
            std::memset(toc, 0, sizeof *toc);
            toc->FirstTrack = toc->LastTrack = 1;
            const std::uint32_t end = sectors + 150;
            toc->TrackData[1].Address[1] = UCHAR(end / 75 / 60);
            toc->TrackData[1].Address[2] = UCHAR(end / 75 % 60);
            toc->TrackData[1].Address[3] = UCHAR(end % 75);
            *returned = sizeof *toc;
            return true;
        }
        const auto* asked = static_cast<const RAW_READ_INFO*>(in);
        const std::uint32_t first = std::uint32_t(asked->DiskOffset.QuadPart / 2048);
        ++reads;
        if (asked->TrackMode != XAForm2 || outSize < asked->SectorCount * 2352)
            return false;
        auto* bytes = static_cast<std::uint8_t*>(out);
        for (std::uint32_t i = 0; i < asked->SectorCount; ++i) {
            const std::uint32_t lba = first + i;
            if (lba >= sectors || std::count(lost.begin(), lost.end(), lba) > 0)
                return false;
            if (auto it = flaky.find(lba); it != flaky.end() && it->second > 0) {
                --it->second;
                return false;
            }
            std::uint8_t* raw = bytes + std::size_t(i) * 2352;
            std::memcpy(raw, cdimage::kSyncPattern, 12);
            const std::uint32_t address =
                lba + 150 + (std::count(misplaced.begin(), misplaced.end(), lba) > 0 ? 1 : 0);
            raw[12] = bcd(address / 75 / 60);
            raw[13] = bcd(address / 75 % 60);
            raw[14] = bcd(address % 75);
            raw[15] = 2;
            std::memset(raw + 16, int(lba & 0xFF), 2336);
        }
        *returned = asked->SectorCount * 2352;
        return true;
    }
};

void driveGivesSectorsAndTellsTheBadOnes() {
    StandInDrive drive;
    drive.lost = {40};
    drive.flaky = {{60, 2}};
    drive.misplaced = {80};
    auto source = dat2file::driveSectors(
        [&](DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
            return drive.control(code, in, inSize, out, outSize, returned);
        },
        "\\\\.\\D:");
    CHECK(source->sectorCount() == 100);
    for (std::uint32_t lba : {0u, 1u, 31u, 39u, 41u, 99u}) {
        const std::uint8_t* sector = source->sector(lba);
        CHECK(sector && sector[0] == std::uint8_t(lba) && sector[2335] == std::uint8_t(lba));
    }
    CHECK(source->sector(40) == nullptr);                     // lost: tried, given up
    CHECK(source->sector(60) && source->sector(60)[0] == 60); // read at its third try
    CHECK(source->sector(80) == nullptr);                     // another sector's address: refused
    CHECK(source->sector(100) == nullptr);                    // past the disc's end
    CHECK(source->whyUnreadable(40).find("\\\\.\\D:") != std::string::npos);

    StandInDrive empty;
    empty.sectors = 0;
    bool refused = false;
    try {
        dat2file::driveSectors([](DWORD, void*, DWORD, void*, DWORD, DWORD*) { return false; },
                               "\\\\.\\E:");
    } catch (const std::exception& error) {
        refused = std::string(error.what()).find("no table of contents") != std::string::npos;
    }
    CHECK(refused);
}

void filesAreCreatedAloneAndPlacedWithoutReplacing(const fs::path& folder) {
    const fs::path target = folder / L"r\u00e9sum\u00e9 \u65e5\u672c.bin";
    {
        cdimage::OutputFile first(target, "test");
        first.write("first", 5);
        first.close();
        std::ofstream(target) << "mine";
        bool kept = false;
        try {
            first.place(target, false);
        } catch (const cdimage::Error& error) {
            kept = std::string(error.what()).find("exists already") != std::string::npos;
        }
        CHECK(kept);
    }
    std::ifstream in(target);
    std::string text;
    in >> text;
    CHECK(text == "mine");
    CHECK(fs::directory_iterator(folder) != fs::directory_iterator() &&
          std::distance(fs::directory_iterator(folder), fs::directory_iterator()) == 1);

    // The temporary name of one run is never another's file.
    cdimage::OutputFile second(folder / L"b.bin", "test");
    second.write("b", 1);
    second.close();
    second.setModified(1'000'000'000);
    second.place(folder / L"b.bin", false);
    cdimage::FileFacts facts, other;
    std::error_code error;
    CHECK(cdimage::lookAt(folder / L"b.bin", facts, error) && facts.regular && facts.size == 1);
    CHECK(facts.modifiedSeconds == 1'000'000'000 && facts.modifiedNanoseconds == 0);
    // A second name of the same file is the same file.
    CHECK(::CreateHardLinkW((folder / L"c.bin").c_str(), (folder / L"b.bin").c_str(), nullptr));
    CHECK(cdimage::lookAt(folder / L"c.bin", other, error) && other.identity == facts.identity);
    std::ofstream(folder / L"d.bin") << "b";
    CHECK(cdimage::lookAt(folder / L"d.bin", other, error) && other.identity != facts.identity);
}

void sha256AsTheStandardGivesIt() {
    const auto digest = [](const std::string& text, int times = 1) {
        cdimage::Sha256 sum;
        for (int i = 0; i < times; ++i)
            sum.add(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        return sum.hex();
    };
    CHECK(digest("") == "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    CHECK(digest("abc") == "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    CHECK(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq") ==
          "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    CHECK(digest(std::string(1000, 'a'), 1000) ==
          "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    CHECK(digest("a", 1'000'000) ==
          "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Ctrl+Break stops a build as Ctrl+C does: what was half-written goes, and the status is that of
// a program ended by Ctrl+C. Where the console cannot deliver the event (wine without a console
// of its own), the case says so and is left out.
void ctrlBreakStopsABuild(const fs::path& folder, const fs::path& tool) {
    const fs::path big = folder / L"big.dat";
    {
        std::ofstream out(big, std::ios::binary);
        out.seekp(400'000'000 - 1);
        out.put('\0');
    }
    std::wstring line =
        L"\"" + tool.wstring() + L"\" -v V -o stopped -m \"" + big.wstring() + L"\"";
    ::AllocConsole(); // Ctrl+Break travels through a console the two share
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(tool.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.c_str(), &startup, &process)) {
        check(false, "velmora_tolk.exe starts", __LINE__);
        return;
    }
    // Under way once its temporary file grows.
    for (int i = 0; i < 200; ++i) {
        bool growing = false;
        for (const auto& entry : fs::directory_iterator(folder))
            growing |= entry.path().extension() == L".tmp" && entry.file_size() > 0;
        if (growing)
            break;
        ::Sleep(20);
    }
    // Sent to every process of the console; this one lets it pass.
    ::SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE);
    if (!::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0)) {
        std::printf("SKIP ctrlBreakStopsABuild: the console gives no Ctrl+Break (error %lu; wine "
                    "without a console window)\n",
                    ::GetLastError());
        ::TerminateProcess(process.hProcess, 1);
        ::WaitForSingleObject(process.hProcess, INFINITE);
    } else {
        CHECK(::WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0);
        DWORD status = 0;
        ::GetExitCodeProcess(process.hProcess, &status);
        CHECK(status == 0xC000013A);
        for (const auto& entry : fs::directory_iterator(folder))
            CHECK(entry.path().filename() == L"big.dat");
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    fs::remove(big);
}

// Paths past the classic limit go to the system in their \\?\ form, whole and with
// backslashes; shorter ones as they are; and a file is made, placed and found at such a path.
void longPathsTakeTheirWholeForm(const fs::path& folder) {
    CHECK(cdimage::systemPath(L"C:\\short\\name.dat") == fs::path(L"C:\\short\\name.dat"));
    const std::wstring deep(300, L'd');
    const fs::path unc = cdimage::systemPath(L"\\\\server\\share\\" + deep + L"\\x.dat");
    CHECK(unc.native() == L"\\\\?\\UNC\\server\\share\\" + deep + L"\\x.dat");
    const fs::path drive = cdimage::systemPath(L"C:/" + deep + L"/x.dat");
    CHECK(drive.native() == L"\\\\?\\C:\\" + deep + L"\\x.dat");
    CHECK(cdimage::systemPath(drive) == drive);

    fs::path inside = folder;
    for (int level = 0; level < 8; ++level)
        inside /= L"folder_with_a_rather_long_name_" + std::to_wstring(level);
    CHECK(inside.native().size() > MAX_PATH);
    std::error_code error;
    fs::create_directories(cdimage::systemPath(inside), error);
    CHECK(!error);
    cdimage::OutputFile file(inside / L"deep.dat", "test");
    const char text[] = "deep";
    file.write(text, 4);
    file.close();
    file.place(inside / L"deep.dat", false);
    cdimage::FileFacts facts;
    CHECK(cdimage::lookAt(inside / L"deep.dat", facts, error));
    CHECK(facts.regular);
    // Taken down by the system's own calls, deepest first: the rest of the folder then goes as
    // usual.
    CHECK(::DeleteFileW(cdimage::systemPath(inside / L"deep.dat").c_str()));
    for (fs::path level = inside; level != folder; level = level.parent_path())
        CHECK(::RemoveDirectoryW(cdimage::systemPath(level).c_str()));
}

} // namespace

// A damaged disc read whole with one chunk of memory: the rest is kept in a file in the folder
// given, read back without asking the drive again, and gone with the reader; the few sectors
// still needed tried again with the drive slowed, then its fastest asked back.
void damagedDiscKeptInAFileThatVanishes(const fs::path& folder) {
    StandInDrive drive;
    drive.sectors = 3000;
    drive.lost = {2100, 2101};
    fs::create_directories(folder);
    {
        auto source = dat2file::driveSectors(
            [&](DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
                return drive.control(code, in, inSize, out, outSize, returned);
            },
            "\\\\.\\D:", dat2file::Keeping{folder, 1});
        source->readAllAtOnce(3000,
                              [] {
                                  return std::vector<std::uint32_t>{2100, 2101, 2102};
                              },
                              {});
        CHECK(!fs::is_empty(folder)); // the file, while the reader lives
        const int reads = drive.reads;
        for (std::uint32_t lba : {5u, 1500u, 2099u, 2102u, 2999u}) {
            const std::uint8_t* sector = source->sector(lba);
            CHECK(sector && sector[0] == std::uint8_t(lba) && sector[2335] == std::uint8_t(lba));
        }
        CHECK(drive.reads == reads); // all of it kept
        CHECK(source->sector(2100) == nullptr);
        CHECK((drive.speeds == std::vector<USHORT>{4 * 176, 0xFFFF}));
    }
    CHECK(fs::is_empty(folder));
}

int main(int argc, char** argv) {
    const fs::path tool = argc > 1 ? fs::path(argv[1]) : fs::path();
    wchar_t base[MAX_PATH];
    ::GetTempPathW(MAX_PATH, base);
    const fs::path folder =
        fs::path(base) / (L"tst_windows_tools-" + std::to_wstring(::GetCurrentProcessId()));
    fs::create_directories(folder);
    driveGivesSectorsAndTellsTheBadOnes();
    damagedDiscKeptInAFileThatVanishes(folder / L"kept");
    fs::remove_all(folder / L"kept");
    filesAreCreatedAloneAndPlacedWithoutReplacing(folder);
    sha256AsTheStandardGivesIt();
    longPathsTakeTheirWholeForm(folder / L"long");
    fs::create_directories(folder / L"stop");
    if (!tool.empty())
        ctrlBreakStopsABuild(folder / L"stop", tool);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    std::printf("%s: %d failure(s)\n", g_failures ? "FAIL" : "PASS", g_failures);
    return g_failures == 0 ? 0 : 1;
}
