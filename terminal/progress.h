// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How the tools tell how far they are, on standard error, in one form that both share and that
// the console window turns into its progress bar:
//
//     TOOL: progress PERCENT% DETAIL
//
// PERCENT from 0 to 100, DETAIL optional. A line is written each time the percent or the detail
// changes. On a terminal the lines replace one another in place (carriage return), and the last
// one is ended with a line break by finish().

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace cdimage {

// What stands between the tool's name and the percent; the console window looks for it.
inline constexpr std::string_view kProgressMarker = ": progress ";

// Under the console window, where this variable says "one", standard output and error reach
// one pipe, and each line written on standard error begins with kErrorLineMark (U+001E, which
// no line of ours holds otherwise: names are escaped), so that the window shows the lines in
// the order written and still tells the error lines.
inline constexpr char kOneChannelVariable[] = "VELMORA_CONSOLE_CHANNELS";
inline constexpr char kErrorLineMark = '\x1e';

// The line that says `tool` is at `percent` (0 to 100), and at what, when `detail` is given.
inline std::string progressLineText(std::string_view tool, int percent, std::string_view detail) {
    std::string line =
        std::string(tool) + std::string(kProgressMarker) + std::to_string(percent) + '%';
    if (!detail.empty())
        line += ' ' + std::string(detail);
    return line;
}

class ProgressLine {
public:
    explicit ProgressLine(std::string tool);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // `done` of `total` units; a total of 0 counts as complete.
    void report(std::uint64_t done, std::uint64_t total, const std::string& detail = {});
    // Ends the line in place on a terminal; nothing otherwise.
    void finish();

private:
    std::string m_tool;
    bool m_terminal;
    int m_percent = -1;
    std::string m_detail;
    std::size_t m_width = 0; // of the line shown in place
};

// What printf's `format` makes of the arguments, as a text.
#if defined(__MINGW32__)
__attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
formatted(const char* format, ...);

// Writes what `format` makes to `stream` (standard output or error) in one call, each line
// whole: a console that shows what comes as it comes never gets half a character or half a
// line. A progress line left open in place on the terminal is ended first, so that what follows
// stands on a line of its own.
#if defined(__MINGW32__)
__attribute__((format(gnu_printf, 2, 3))) // mingw's own printf, which knows %zu and %llu
#elif defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void say(std::FILE* stream, const char* format, ...);

} // namespace cdimage
