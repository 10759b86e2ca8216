// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the two tools: records its current folder and its arguments, one per line,
// in a new file of the folder named by VELMORA_ARGV_RECORD_DIR, then ends.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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
        out << std::filesystem::current_path().string() << '\n';
        for (int i = 1; i < argc; ++i)
            out << argv[i] << '\n';
    }
    std::filesystem::rename(partial, record.string() + ".txt");
    return 0;
}
