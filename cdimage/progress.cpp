// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/progress.h"

#include <algorithm>
#include <cstdio>

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
        std::fprintf(stderr, "%s\n", line.c_str());
        return;
    }
    const std::size_t width = line.size();
    if (width < m_width)
        line.append(m_width - width, ' ');
    m_width = width;
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
}

void ProgressLine::finish() {
    if (m_terminal && m_width > 0)
        std::fputc('\n', stderr);
    m_width = 0;
}

} // namespace cdimage
