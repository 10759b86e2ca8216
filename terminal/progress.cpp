// SPDX-License-Identifier: GPL-3.0-or-later
#include "terminal/progress.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#ifdef _WIN32
#include <io.h>
#define VELMORA_ISATTY _isatty
#define VELMORA_FILENO _fileno
#else
#include <unistd.h>
#define VELMORA_ISATTY isatty
#define VELMORA_FILENO fileno
#endif

namespace cdimage {

namespace {

// The progress line shown in place on the terminal and not ended yet, if one is.
ProgressLine* g_openLine = nullptr;

// Whether standard output and error reach one pipe, the console's (see the header).
bool oneChannel() {
    static const bool one = [] {
        const char* channels = std::getenv(kOneChannelVariable);
        return channels && std::string_view(channels) == "one";
    }();
    return one;
}

void writeWhole(std::FILE* stream, const std::string& text) {
    static bool errorLineBegins = true;
    if (stream == stderr && oneChannel()) {
        std::string marked;
        marked.reserve(text.size() + 8);
        for (const char c : text) {
            if (errorLineBegins)
                marked += kErrorLineMark;
            marked += c;
            errorLineBegins = c == '\n';
        }
        std::fwrite(marked.data(), 1, marked.size(), stream);
    } else {
        std::fwrite(text.data(), 1, text.size(), stream);
    }
    std::fflush(stream);
}

std::string formattedFrom(const char* format, std::va_list arguments) {
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    std::string text(length > 0 ? std::size_t(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

} // namespace

std::string formatted(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::string text = formattedFrom(format, arguments);
    va_end(arguments);
    return text;
}

void say(std::FILE* stream, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    const std::string text = formattedFrom(format, arguments);
    va_end(arguments);
    if (g_openLine)
        g_openLine->finish();
    writeWhole(stream, text);
}

ProgressLine::ProgressLine(std::string tool)
    : m_tool(std::move(tool))
    , m_terminal(VELMORA_ISATTY(VELMORA_FILENO(stderr)) != 0) {}

ProgressLine::~ProgressLine() {
    finish();
}

void ProgressLine::report(std::uint64_t done, std::uint64_t total, const std::string& detail) {
    const int percent = total == 0 ? 100 : int(std::min(done, total) * 100 / total);
    if (percent == m_percent && detail == m_detail)
        return;
    m_percent = percent;
    m_detail = detail;
    std::string line = progressLineText(m_tool, percent, detail);
    if (!m_terminal) {
        if (g_openLine)
            g_openLine->finish(); // another tool's line in place, before this one
        writeWhole(stderr, line + '\n');
        return;
    }
    if (g_openLine && g_openLine != this)
        g_openLine->finish();
    const std::size_t width = line.size();
    if (width < m_width)
        line.append(m_width - width, ' ');
    m_width = width;
    writeWhole(stderr, '\r' + line);
    g_openLine = this;
}

void ProgressLine::finish() {
    if (m_terminal && m_width > 0)
        writeWhole(stderr, "\n");
    m_width = 0;
    if (g_openLine == this)
        g_openLine = nullptr;
}

} // namespace cdimage
