// SPDX-License-Identifier: GPL-3.0-or-later
// The manual pages and the programs' own --help agree on the options there are.

#include "toolrun.h"

#include <QRegularExpression>
#include <QSet>
#include <QtTest>

using namespace velmora::test;

namespace {

QSet<QString> optionsIn(const QString& text) {
    QSet<QString> options;
    static const QRegularExpression option(u"(?<![\\w-])(--?[a-z][a-z-]*)"_qs);
    for (auto match = option.globalMatch(text); match.hasNext();)
        options.insert(match.next().captured(1));
    return options;
}

// The options a manual page names in its synopsis and its list of options: roff's escapes
// taken out.
QSet<QString> optionsOfManual(const QString& path) {
    QString page = QString::fromUtf8(readFile(path));
    page.replace(u"\\-"_qs, u"-"_qs).remove(QRegularExpression(u"\\\\f[BIRP]"_qs));
    QString kept;
    bool keep = false;
    for (const QString& line : page.split(u'\n')) {
        if (line.startsWith(u".SH "_qs))
            keep = line == u".SH SYNOPSIS"_qs || line == u".SH OPTIONS"_qs;
        else if (keep)
            kept += line.section(u' ', line.startsWith(u'.') ? 1 : 0) + u'\n';
    }
    return optionsIn(kept);
}

} // namespace

class ManualPagesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void manualsNameTheOptionsOfHelp_data();
    void manualsNameTheOptionsOfHelp();
};

void ManualPagesTest::manualsNameTheOptionsOfHelp_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("manual");
    QTest::newRow("velmora_tolk") << QStringLiteral(VELMORA_TOLK) << u"velmora_tolk.1"_qs;
    QTest::newRow("dat2file") << QStringLiteral(DAT2FILE) << u"dat2file.1"_qs;
    QTest::newRow("velmora_console") << QStringLiteral(VELMORA_CONSOLE) << u"velmora_console.1"_qs;
}

void ManualPagesTest::manualsNameTheOptionsOfHelp() {
    QFETCH(QString, program);
    QFETCH(QString, manual);
    const Run help = run(program, {u"--help"_qs}, QDir::tempPath());
    QCOMPARE(help.status, 0);
    const QSet<QString> fromHelp = optionsIn(help.output);
    const QSet<QString> fromManual = optionsOfManual(QStringLiteral(MANUALS) + u'/' + manual);
    QVERIFY(fromHelp.contains(u"--help"_qs));
    QStringList a(fromHelp.cbegin(), fromHelp.cend()), b(fromManual.cbegin(), fromManual.cend());
    a.sort();
    b.sort();
    QCOMPARE(b, a);
}

QTEST_GUILESS_MAIN(ManualPagesTest)
#include "tst_manpages.moc"
