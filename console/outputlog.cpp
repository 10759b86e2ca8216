// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/outputlog.h"

#include <algorithm>

namespace velmora::console {

OutputLog::OutputLog()
    : OutputLog(Limits{}) {}

OutputLog::OutputLog(Limits limits)
    : m_limits(limits) {}

qsizetype OutputLog::lineCount() const {
    const Line& open = m_lines.back();
    return qsizetype(m_lines.size()) - (open.shown + open.waiting == 0 ? 1 : 0);
}

void OutputLog::add(QStringView text) {
    for (qsizetype start = 0; start <= text.size();) {
        const qsizetype end = text.indexOf(u'\n', start);
        addToOpenLine(text.mid(start, (end < 0 ? text.size() : end) - start));
        if (end < 0)
            break;
        closeLine();
        start = end + 1;
    }
    trim();
}

void OutputLog::addToOpenLine(QStringView text) {
    Line& open = m_lines.back();
    const qsizetype room =
        std::max<qsizetype>(0, m_limits.lineCharacters - open.shown - open.waiting);
    const qsizetype taken = std::min(room, text.size());
    m_leftOut += text.size() - taken;
    m_waiting.append(text.left(taken));
    open.waiting += taken;
    m_characters += taken;
}

void OutputLog::closeLine() {
    if (m_leftOut > 0) {
        const QString note = QStringLiteral(" [… %1 more characters]").arg(m_leftOut);
        m_waiting.append(note);
        m_lines.back().waiting += note.size();
        m_characters += note.size();
        m_leftOut = 0;
    }
    m_waiting.append(u'\n');
    m_lines.back().closed = true;
    m_lines.back().breakWaiting = true;
    m_lines.emplace_back();
}

// Drops lines at the front, never the one being written, until the bounds hold.
void OutputLog::trim() {
    while (m_lines.size() > 1 &&
           (qsizetype(m_lines.size()) - 1 > m_limits.lines || m_characters > m_limits.characters)) {
        const Line front = m_lines.front();
        m_lines.pop_front();
        if (m_firstWaiting > 0)
            --m_firstWaiting;
        m_characters -= front.shown + front.waiting;
        ++m_droppedLines;
        // The sink has the line if it has some of it, or its break.
        if (front.shown > 0 || !front.breakWaiting)
            ++m_sinkDrops;
        m_waitingFrom += front.waiting + (front.breakWaiting ? 1 : 0);
    }
    if (m_waitingFrom > 64 * 1024 && m_waitingFrom > m_waiting.size() / 2) {
        m_waiting.remove(0, m_waitingFrom);
        m_waitingFrom = 0;
    }
}

bool OutputLog::flushTo(OutputSink& sink, qsizetype largest) {
    if (m_sinkDrops > 0) {
        sink.removeFirstLines(m_sinkDrops);
        m_sinkDrops = 0;
    }
    const qsizetype budget = std::min(largest, m_waiting.size() - m_waitingFrom);
    qsizetype given = 0;
    // The lines whose text waits follow those the sink has whole: from the first of them on.
    for (; given < budget && m_firstWaiting < m_lines.size(); ++m_firstWaiting) {
        Line& line = m_lines[m_firstWaiting];
        const qsizetype moved = std::min(line.waiting, budget - given);
        line.shown += moved;
        line.waiting -= moved;
        given += moved;
        if (line.waiting > 0 || !line.breakWaiting || given == budget)
            break;
        line.breakWaiting = false;
        ++given;
    }
    sink.append(QStringView(m_waiting).mid(m_waitingFrom, given));
    m_waitingFrom += given;
    return waiting();
}

namespace {

// Where an unfinished UTF-8 sequence begins at the end of `bytes`: the bytes from there on wait
// for the next piece. The size when the piece ends whole.
qsizetype unfinishedTail(const QByteArray& bytes) {
    const qsizetype size = bytes.size();
    for (qsizetype back = 1; back <= 4 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(bytes.at(size - back));
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: its lead is further back
        const qsizetype length = (byte & 0xE0) == 0xC0   ? 2
                                 : (byte & 0xF0) == 0xE0 ? 3
                                 : (byte & 0xF8) == 0xF0 ? 4
                                                         : 1;
        return back < length ? size - back : size;
    }
    return size;
}

} // namespace

QString StreamText::add(const QByteArray& bytes) {
    m_pending += bytes;
    const qsizetype whole = unfinishedTail(m_pending);
    QString text = QString::fromUtf8(m_pending.constData(), whole);
    m_pending.remove(0, whole);
    if (!m_afterReturn && !text.contains(u'\r'))
        return text;
    QString lines;
    lines.reserve(text.size());
    for (const QChar c : std::as_const(text)) {
        if (c == u'\n' && m_afterReturn) {
            m_afterReturn = false; // the second half of "\r\n"
            continue;
        }
        m_afterReturn = c == u'\r';
        lines.append(m_afterReturn ? QChar(u'\n') : c);
    }
    return lines;
}

QString StreamText::finish() {
    QString rest = QString::fromUtf8(m_pending);
    m_pending.clear();
    m_afterReturn = false;
    return rest;
}

} // namespace velmora::console
