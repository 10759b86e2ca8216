// SPDX-License-Identifier: GPL-3.0-or-later
// What the console shows of a tool's output: the bytes, cut into pieces anywhere, decoded and
// handed to the view in pieces of any size, show the same text as the whole output decoded at
// once; within small bounds, the view never holds more than its bounds.
// The input's first byte seeds the cuts; the rest is the output.

#include "console/outputlog.h"
#include "tests/linessink.h"

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <cstdlib>
#include <random>

namespace {

using velmora::console::OutputLog;
using velmora::console::StreamText;
using velmora::test::LinesSink;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 256 * 1024)
        return 0;
    std::minstd_rand cuts(data[0]);
    const QByteArray output(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    StreamText whole;
    const QString expected = whole.add(output) + whole.finish();

    StreamText pieces;
    OutputLog log({1'000'000, 100'000'000, 1'000'000});
    OutputLog bounded({7, 300, 50});
    LinesSink view, small;
    QString decoded;
    for (qsizetype at = 0; at < output.size();) {
        const qsizetype piece = qsizetype(cuts() % 64) + 1;
        const QString text = pieces.add(output.mid(at, piece));
        decoded += text;
        log.add(text);
        bounded.add(text);
        at += piece;
        if (cuts() % 3 == 0) {
            log.flushTo(view, qsizetype(cuts() % 100) + 1);
            bounded.flushTo(small, qsizetype(cuts() % 100) + 1);
        }
        if (small.lines.size() > 7 + 1)
            std::abort();
    }
    const QString rest = pieces.finish();
    decoded += rest;
    log.add(rest);
    bounded.add(rest);
    while (log.flushTo(view, qsizetype(cuts() % 100) + 1)) {
    }
    while (bounded.flushTo(small, qsizetype(cuts() % 100) + 1)) {
    }
    if (decoded != expected || view.text() != expected)
        std::abort();
    // The small view within its bounds: 7 lines and the one being written, 300 characters
    // and the breaks, one line's note of what was cut.
    if (small.lines.size() > 7 + 1 || small.text().size() > 300 + 7 + 40)
        std::abort();
    return 0;
}
