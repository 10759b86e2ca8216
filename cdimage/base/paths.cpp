// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/base/paths.h"

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>

namespace cdimage {

namespace {

// A folder's path must leave room for a name of 8.3 within the classic limit of 260.
constexpr std::size_t kClassicPathLimit = 248;
constexpr std::wstring_view kWholeForm = LR"(\\?\)";

} // namespace

std::filesystem::path systemPath(const std::filesystem::path& path) {
    const std::wstring& text = path.native();
    if (text.starts_with(kWholeForm))
        return path;
    // The system's own reading of the path: the current folder and drive put in, "." and ".."
    // resolved, every separator a backslash, a share kept as one.
    std::wstring whole(std::max<DWORD>(::GetFullPathNameW(text.c_str(), 0, nullptr, nullptr), 1),
                       L'\0');
    const DWORD length =
        ::GetFullPathNameW(text.c_str(), DWORD(whole.size()), whole.data(), nullptr);
    if (length == 0 || length >= whole.size())
        return path;
    whole.resize(length);
    if (whole.size() < kClassicPathLimit)
        return path;
    if (whole.starts_with(LR"(\\)")) // a share, \\server\share\...
        return std::wstring(kWholeForm) + L"UNC\\" + whole.substr(2);
    return std::wstring(kWholeForm) + whole;
}

} // namespace cdimage
#endif
