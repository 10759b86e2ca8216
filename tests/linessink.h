// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The console's output log as plain lines, for the tests and the fuzz target that check what the
// view is given: a sink that holds the lines and the one being written.

#include "console/outputlog.h"

#include <QStringList>

namespace velmora::test {

struct LinesSink final : console::OutputSink {
    QStringList lines{QString()};

    void removeFirstLines(qsizetype count) override {
        if (count >= lines.size())
            lines = {QString()};
        else
            lines.remove(0, count);
    }
    void append(QStringView text) override {
        const QList<QStringView> parts = text.split(u'\n');
        lines.last() += parts.first();
        for (qsizetype i = 1; i < parts.size(); ++i)
            lines.append(parts.at(i).toString());
    }
    QString text() const { return lines.join(u'\n'); }
};

} // namespace velmora::test
