// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the two tools: records its current folder and its arguments, one per line,
// in a new file of the folder named by VELMORA_ARGV_RECORD_DIR, then ends.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

// The arguments as the wide command line gives them, in UTF-8: the ANSI ones lose characters.
std::vector<std::string> arguments(int, char**) {
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> all;
    for (int i = 1; wide && i < count; ++i) {
        const std::u8string text = std::filesystem::path(wide[i]).u8string();
        all.emplace_back(text.begin(), text.end());
    }
    ::LocalFree(wide);
    return all;
}
#else
std::vector<std::string> arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}
#endif

int main(int argc, char** argv) {
    const char* folder = std::getenv("VELMORA_ARGV_RECORD_DIR");
    if (!folder)
        return 0;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::filesystem::path record =
        std::filesystem::path(folder) / ("record-" + std::to_string(stamp));
    const std::filesystem::path partial = record.string() + ".partial";
    {
        std::ofstream out(partial, std::ios::binary);
        const std::u8string current = std::filesystem::current_path().u8string();
        out << std::string(current.begin(), current.end()) << '\n';
        for (const std::string& argument : arguments(argc, argv))
            out << argument << '\n';
    }
    std::filesystem::rename(partial, record.string() + ".txt");
    return 0;
}
