// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the console keeps of a tool's output: the last lines, within fixed bounds whatever the
// tool writes (ten million short lines, or a gigabyte without a line break), handed to the view
// in pieces of bounded size so that the window always answers. Text only, Qt Core only.
//
// The view (an OutputSink) holds lines; the text it is given continues its last line, and a
// '\n' in it ends that line. Lines dropped at the front to stay within bounds are dropped from
// the view too, before the next text, and counted. Text that is dropped before the view ever
// had it costs nothing there.

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <deque>

namespace velmora::console {

class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Removes the first `count` lines; when that is every line, the sink is left empty.
    virtual void removeFirstLines(qsizetype count) = 0;
    // Continues the last line with `text`; each '\n' in it ends a line and begins the next.
    virtual void append(QStringView text) = 0;
};

class OutputLog {
public:
    struct Limits {
        qsizetype lines = 100'000;
        qsizetype characters = 2 * 1024 * 1024;
        // Of one line; the rest of it is left out. A view lays a line out whole each time it
        // grows, in a time that grows faster than its length: 16K characters take some 20 ms.
        qsizetype lineCharacters = 16 * 1024;
    };

    OutputLog();
    explicit OutputLog(Limits limits);

    // Text the tool wrote, line breaks as '\n'.
    void add(QStringView text);
    // Gives `sink` what it lacks: first the lines dropped since, then at most `largest`
    // characters of new text. True while more text waits.
    bool flushTo(OutputSink& sink, qsizetype largest);
    bool waiting() const { return m_waitingFrom < m_waiting.size() || m_sinkDrops > 0; }

    // Lines dropped at the front so far, to stay within the bounds.
    qsizetype droppedLines() const { return m_droppedLines; }
    // Lines kept (the one being written counts once it has a character or a break).
    qsizetype lineCount() const;

private:
    // A line kept: how much of it the sink has, how much waits, and where its break is.
    struct Line {
        qsizetype shown = 0;
        qsizetype waiting = 0;
        bool closed = false;
        bool breakWaiting = false;
    };

    void addToOpenLine(QStringView text);
    void closeLine();
    void trim();

    Limits m_limits;
    std::deque<Line> m_lines{Line{}}; // the last one is being written
    std::size_t m_firstWaiting = 0;   // the first line whose text, or break, waits
    QString m_waiting;                // text not given to the sink yet, from m_waitingFrom
    qsizetype m_waitingFrom = 0;
    qsizetype m_characters = 0; // of the lines kept
    qsizetype m_sinkDrops = 0;  // lines the sink is still to drop
    qsizetype m_droppedLines = 0;
    qsizetype m_leftOut = 0; // characters of the line being written beyond its bound
};

// Turns the bytes of a stream, as its pieces arrive, into text: UTF-8 decoded across the
// pieces' edges (a byte that is not UTF-8 becomes U+FFFD), every line break ("\n", "\r\n", a
// lone "\r") made '\n'.
class StreamText {
public:
    QString add(const QByteArray& bytes);
    // What is left at the end of the stream.
    QString finish();

private:
    QByteArray m_pending; // the start of a character whose end is still to come
    bool m_afterReturn = false;
};

} // namespace velmora::console
