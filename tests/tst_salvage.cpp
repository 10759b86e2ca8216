// SPDX-License-Identifier: GPL-3.0-or-later
// A scratched disc read through a drive: dat2file's steps driven in-process over the drive's
// read function, with sectors that cannot be read at all, sectors that read only on a second
// try, and a sector whose data come back wrong. Every good byte comes back; the bad ones are
// zeros, named by their byte ranges.

#include "toolrun.h"

#include "dat2file/commands.h"
#include "dat2file/drivelock.h"
#include "dat2file/retryingreads.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <thread>

using namespace velmora::test;

class SalvageTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scratchedDiscGivesBackEveryGoodByte();
    void runsOfOneDriveTakeTurns();
};

void SalvageTest::scratchedDiscGivesBackEveryGoodByte() {
    QTemporaryDir folder;
    const QByteArray data = randomBytes(200 * 2324 + 77, 21);
    const QString source = writeFile(folder.path(), u"a.dat"_qs, data);
    QCOMPARE(run(tolkProgram(),
                 {u"--repair"_qs, u"off"_qs, u"-v"_qs, u"SCRATCH"_qs, u"-o"_qs, u"IMG"_qs, u"-m"_qs,
                  source},
                 folder.path())
                 .status,
             0);
    const QString cue = folder.filePath(u"IMG.cue"_qs);
    const qint64 first = placeOf(cue, u"A.DAT"_qs, folder.path()).first;
    const QByteArray bin = readFile(folder.filePath(u"IMG.bin"_qs));

    // The file's sectors 0, 57 to 59 and 199 are lost; 100 reads on the second try; 150 gives
    // its data with one bit wrong.
    const std::set<qint64> lost = {first, first + 57, first + 58, first + 59, first + 199};
    const qint64 flaky = first + 100, wrong = first + 150;
    std::map<qint64, int> reads;
    dat2file::RetryingReads drive(
        [&](std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
            for (std::uint32_t i = 0; i < count; ++i) {
                const qint64 sector = lba + i;
                ++reads[sector];
                if (lost.count(sector) || (sector == flaky && reads[sector] == 1))
                    return false;
                std::memcpy(out + std::size_t(i) * 2336, bin.constData() + sector * 2352 + 16,
                            2336);
                if (sector == wrong)
                    out[std::size_t(i) * 2336 + 8 + 5] ^= 0x40;
            }
            return true;
        },
        std::uint32_t(bin.size() / 2352), "\"/dev/test\"");

    const QString target = folder.filePath(u"out"_qs);
    const int status =
        dat2file::extractFromDisc(drive, "the test drive", "A.DAT", target.toStdString(), false);
    QCOMPARE(status, 3);
    QVERIFY(!QFile::exists(target));
    const QByteArray copy = readFile(target + u".damaged"_qs);
    QCOMPARE(copy.size(), data.size());
    std::set<qint64> zeroed(lost);
    zeroed.insert(wrong);
    for (qint64 sector = 0; sector * 2324 < data.size(); ++sector) {
        const QByteArray expected =
            zeroed.count(first + sector)
                ? QByteArray(std::min<qint64>(2324, data.size() - sector * 2324), '\0')
                : data.mid(sector * 2324, 2324);
        QVERIFY2(copy.mid(sector * 2324, 2324) == expected, qPrintable(QString::number(sector)));
    }
    // Each lost sector was tried a few times; the flaky one was read again and kept.
    for (const qint64 sector : lost)
        QVERIFY(reads[sector] >= dat2file::RetryingReads::kAttempts);
    const QString ranges = QString::fromUtf8(readFile(target + u".damaged.ranges"_qs));
    const QStringList lines = ranges.split(u'\n', Qt::SkipEmptyParts).mid(1);
    QCOMPARE(lines.size(), 4);
    QVERIFY2(
        lines[0].startsWith(
            u"0 2323 %1 cannot be read: the drive \"/dev/test\" cannot read it (3 tries)"_qs.arg(
                first)),
        qPrintable(ranges));
    QVERIFY2(lines[1].startsWith(u"%1 %2 %3-%4 cannot be read"_qs.arg(57 * 2324)
                                     .arg(60 * 2324 - 1)
                                     .arg(first + 57)
                                     .arg(first + 59)),
             qPrintable(ranges));
    QVERIFY2(lines[2].startsWith(
                 u"%1 %2 %3 fails its EDC check"_qs.arg(150 * 2324).arg(151 * 2324 - 1).arg(wrong)),
             qPrintable(ranges));
    QVERIFY2(
        lines[3].startsWith(
            u"%1 %2 %3 cannot be read"_qs.arg(199 * 2324).arg(200 * 2324 - 1).arg(first + 199)),
        qPrintable(ranges));
}

QTEST_GUILESS_MAIN(SalvageTest)
// Two readers of one drive (a file stands for the device): the second waits, says so once, and
// reads when the first is done.
void SalvageTest::runsOfOneDriveTakeTurns() {
    QTemporaryDir folder;
    const std::string device = QFile::encodeName(folder.filePath(u"sr0"_qs)).toStdString();
    QFile(folder.filePath(u"sr0"_qs)).open(QIODevice::WriteOnly);
    std::optional<dat2file::DriveLock> first;
    int firstWaited = 0;
    first.emplace(device, [&] { ++firstWaited; });
    std::atomic<int> waited{0};
    std::atomic<bool> reading{false};
    std::thread second([&] {
        const dat2file::DriveLock turn(device, [&] { ++waited; });
        reading = true;
    });
    QTRY_COMPARE(waited.load(), 1);
    QTest::qWait(300);
    QVERIFY(!reading);
    first.reset();
    second.join();
    QVERIFY(reading);
    QCOMPARE(waited.load(), 1);
    QCOMPARE(firstWaited, 0);
}

#include "tst_salvage.moc"
