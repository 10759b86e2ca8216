// SPDX-License-Identifier: GPL-3.0-or-later
// The manual pages and the programs' own --help agree on the options there are.

#include "toolrun.h"

#include "cdimage/base/sector.h"
#include "cdimage/format/repairformat.h"

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

// 43587 as "43,587".
QString grouped(std::uint64_t number) {
    QString text = QString::number(number);
    for (qsizetype at = text.size() - 3; at > 0; at -= 3)
        text.insert(at, u',');
    return text;
}

// What a full 80-minute disc holds and survives at `m`, as the documents quote it.
struct Figures {
    QString files, share, burst, burstMb, within, withinMb;
};

Figures figuresOf(int m) {
    const std::uint32_t protectedSectors =
        cdimage::mostProtectedSectors(m, cdimage::kEightyMinuteSectors);
    const auto layout = cdimage::RepairLayout::of(protectedSectors, m);
    const double repair = layout.paritySectors() + 2.0 * layout.headerSectors();
    const auto megabytes = [](double sectors) -> QString {
        return QString::number(qRound64(sectors * 2324 / 1e6)) + u" MB"_qs;
    };
    return {
        megabytes(protectedSectors),     QString::number(100 * repair / protectedSectors, 'f', 1),
        grouped(layout.longestBurst()),  megabytes(layout.longestBurst()),
        grouped(layout.paritySectors()), megabytes(layout.paritySectors())};
}

QString manualText(const QString& name) {
    return QString::fromUtf8(readFile(QStringLiteral(MANUALS) + u'/' + name))
        .replace(u"\\-"_qs, u"-"_qs);
}

} // namespace

class ManualPagesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void manualsNameTheOptionsOfHelp_data();
    void manualsNameTheOptionsOfHelp();
    void documentsQuoteTheFiguresTheCodeGives();
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

// The README, the format document, the manual page and --help quote one set of figures of a
// full disc: those the code that places the repair data gives.
void ManualPagesTest::documentsQuoteTheFiguresTheCodeGives() {
    const QString readme =
        QString::fromUtf8(readFile(QStringLiteral(SOURCE_DIR) + u"/README.md"_qs));
    const QString format =
        QString::fromUtf8(readFile(QStringLiteral(SOURCE_DIR) + u"/docs/repair-format.md"_qs));
    for (const int m : {8, 16, 32, 64}) {
        const Figures f = figuresOf(m);
        const QString row = u"| %1 | %2 % | %3 | %4 (%5) | %6 (%7) |"_qs.arg(
            m == 32 ? u"32 (default)"_qs : QString::number(m), f.share, f.files, f.burst, f.burstMb,
            f.within, f.withinMb);
        QVERIFY2(format.contains(row), qPrintable(row));
        if (m == 8)
            continue;
        const QString bold = m == 32 ? u"**"_qs : QString();
        const QString readmeRow = u"| %1%2%1 | %1%3%1 | %1%4 %%1 | %1%5 (%6)%1 |"_qs.arg(
            bold, QString::number(m), f.files, f.share, f.burst, f.burstMb);
        QVERIFY2(readme.contains(readmeRow), qPrintable(readmeRow));
    }
    const Figures f = figuresOf(cdimage::kDefaultParity);
    QVERIFY(readme.contains(u"the repair data takes %1 % of the image's sectors"_qs.arg(f.share)));
    QVERIFY(readme.contains(u"still holds %1 of files"_qs.arg(f.files)));
    const QString manual = manualText(u"velmora_tolk.1"_qs).simplified();
    for (const QString& quoted :
         {u"repair data takes %1% of the"_qs.arg(f.share), u"holds %1 of files"_qs.arg(f.files),
          u"any run of %1 sectors lost in a row on a full disc (%2)"_qs.arg(f.burst, f.burstMb)})
        QVERIFY2(manual.contains(quoted), qPrintable(quoted));
    const QString help =
        run(QStringLiteral(VELMORA_TOLK), {u"--help"_qs}, QDir::tempPath()).output.simplified();
    for (const QString& quoted :
         {u"(%1% at 32, with its check table)"_qs.arg(f.share),
          u"(%1 sectors, %2, on a full 80-minute disc at 32)"_qs.arg(f.burst, f.burstMb)})
        QVERIFY2(help.contains(quoted), qPrintable(quoted));
}

QTEST_GUILESS_MAIN(ManualPagesTest)
#include "tst_manpages.moc"
