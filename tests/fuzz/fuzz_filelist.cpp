// SPDX-License-Identifier: GPL-3.0-or-later
// The file list reader on any text: it never fails in another way than saying which lines are
// damaged, and whatever it reads, written again, reads back the same. The first byte chooses
// a second use: the bytes as original names of files, whose list must always read back.

#include "cdimage/base/names.h"
#include "cdimage/format/filelist.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void same(const std::vector<cdimage::ListedFile>& a, const std::vector<cdimage::ListedFile>& b) {
    bool equal = a.size() == b.size();
    for (std::size_t i = 0; equal && i < a.size(); ++i)
        equal = a[i].identifier == b[i].identifier && a[i].length == b[i].length &&
                a[i].sha256 == b[i].sha256 && a[i].originalName == b[i].originalName;
    if (!equal)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] % 2 == 0) {
        const auto parsed = cdimage::parseFileList(text);
        if (!parsed)
            return 0;
        const auto again = cdimage::parseFileList(cdimage::formatFileList("VOLUME", parsed->files));
        if (!again || !again->damagedLines.empty())
            std::abort();
        same(parsed->files, again->files);
        return 0;
    }
    // Names separated by '/', which no name of a file can hold.
    std::vector<cdimage::ListedFile> files;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '/')
            continue;
        const std::string name(text.substr(start, i - start));
        start = i + 1;
        if (name.empty() || !cdimage::fitsInFileList(name)) // refused before any list is made
            continue;
        files.push_back({cdimage::fileIdentifier(name), name.size() * 977u, std::string(64, 'f'),
                         name, std::uint32_t(i)});
    }
    const auto parsed = cdimage::parseFileList(cdimage::formatFileList("VOLUME", files));
    if (!parsed || !parsed->damagedLines.empty())
        std::abort();
    same(files, parsed->files);
    return 0;
}
