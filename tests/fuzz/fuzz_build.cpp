// SPDX-License-Identifier: GPL-3.0-or-later
// Builds images from generated sets of files and reads each result with the tests' own reader of
// the standards and of the repair format: 0 to 500 files in nested folders, names of 1 to 255
// bytes in many scripts, sizes of 0 to several sectors, any dates, every repair setting (off and
// values out of range included). A build either succeeds and its image is right in every sector,
// every check table entry and its parity, or it fails and leaves nothing where the image would
// have been.

#include "cdimage/write/imagebuilder.h"
#include "imagecheck.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The input, read a value at a time; past its end, zeros.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size) {}
    std::uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::uint32_t u16() { return std::uint32_t(byte()) << 8 | byte(); }
    std::uint32_t u32() { return u16() << 16 | u16(); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

// Pieces names are made of: ASCII, Latin accents, Greek, Cyrillic, CJK, Hangul, Arabic, emoji,
// punctuation that names hold, and (rarely) a control character or a byte that is not UTF-8.
const std::vector<std::string> kPieces = {
    "a", "Z", "0", " ", ".", "-", "_", "'", "(",  ")",  "[",  "]",  "é",  "è",  "ç",
    "Î", "ü", "ß", "ø", "α", "Ω", "ж", "Я", "中", "日", "本", "語", "한", "글", "ع",
    "ש", "🎉", "🎂", "😀", "ﬁ", "·", "—", "…", "&",  "%",  "#",  "!",  "~",  ",",  ";"};

std::string nameOf(std::size_t index, std::size_t bytes, std::minstd_rand& random, bool hostile) {
    std::string name = std::to_string(index) + " ";
    while (name.size() < bytes) {
        const std::string& piece = kPieces[random() % kPieces.size()];
        if (name.size() + piece.size() > 255)
            break;
        name += piece;
    }
    if (hostile)
        name.insert(name.size() / 2, 1, char(random() % 2 ? 0x1b : 0xff));
    return name;
}

fs::path scratch() {
    static const fs::path folder = [] {
        char pattern[] = "/tmp/fuzz_build-XXXXXX";
        if (!mkdtemp(pattern))
            std::abort();
        return fs::path(pattern);
    }();
    return folder;
}

[[noreturn]] void fault(const std::string& what) {
    std::fprintf(stderr, "fuzz_build: %s\n", what.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    const fs::path folder = scratch();
    std::error_code ignored;
    fs::remove_all(folder / "in", ignored);
    for (const char* ending : {".bin", ".cue", ".toc"})
        fs::remove(folder / (std::string("IMG") + ending), ignored);

    cdimage::BuildRequest request;
    request.volumeName = "FUZZ";
    request.imageName = (folder / "IMG").string();
    const std::uint8_t repair = input.byte();
    // The default, off, or 0 to 159: refused below 8 and above 127.
    request.repair = repair < 64 ? 32 : repair < 96 ? 0 : int(repair) - 96;
    const std::size_t files = input.u16() % 501;
    const bool hostile = input.byte() == 0xEE; // a name no CD can hold, now and then
    std::minstd_rand random(input.u32() | 1);
    for (std::size_t i = 0; i < files; ++i) {
        const std::size_t nameBytes = 1 + input.byte();
        const std::uint8_t shape = input.byte();
        fs::path path = folder / "in";
        for (int depth = 0; depth < shape % 5; ++depth)
            path /= "d" + std::to_string((shape >> 3) % 3) + std::to_string(depth);
        path /= nameOf(i, nameBytes, random, hostile && i == files / 2);
        fs::create_directories(path.parent_path());
        const std::size_t bytes = std::size_t(input.u16()) * (shape >> 6); // 0 to 8 sectors
        std::vector<char> content(bytes);
        for (char& c : content)
            c = char(random());
        std::ofstream(path, std::ios::binary).write(content.data(), std::streamsize(bytes));
        // Any date a file system holds: before 1970, past 2155, and ordinary ones.
        const std::int64_t seconds =
            std::int64_t(input.u32()) * ((shape & 4) ? -1 : 1) * ((shape & 2) ? 3 : 1);
        struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(seconds), 0}};
        utimensat(AT_FDCWD, path.c_str(), times, 0);
        request.files.push_back(path);
    }

    cdimage::BuildResult result;
    try {
        result = cdimage::buildImage(request);
    } catch (const std::exception&) {
        // Refused or failed: nothing stands where the image would have.
        for (const char* ending : {".bin", ".cue", ".toc"})
            if (fs::exists(folder / (std::string("IMG") + ending)))
                fault(std::string("a failed build left IMG") + ending + " in place");
        return 0;
    }
    std::ifstream in(result.bin, std::ios::binary);
    const std::vector<std::uint8_t> bin((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
    velmora::test::CheckOptions options;
    options.parityWords = 2;
    options.everyListWord = false;
    const velmora::test::ImageFacts facts =
        velmora::test::checkImage(bin.data(), bin.size(), options);
    if (!facts.faults.empty())
        fault("the image of " + std::to_string(files) + " files, repair " +
              std::to_string(request.repair) + ": " + facts.faults.front());
    if (facts.listedFiles != files || facts.m != result.repair)
        fault("the list names " + std::to_string(facts.listedFiles) + " files of " +
              std::to_string(files) + ", or another repair setting");
    return 0;
}
