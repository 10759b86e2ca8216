// SPDX-License-Identifier: GPL-3.0-or-later
// dat2file on images that other tools made and on images crafted to hurt it: each gives what it
// holds, each bad entry costs itself alone, names reach no terminal raw, and a name given by the
// user means one file or is refused.

#include "toolrun.h"

#include "cdimage/base/sector.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace velmora::test;

namespace {

Run dat2file(const QStringList& arguments, const QString& folder) {
    return run(dat2fileProgram(), arguments, folder);
}

// The image IMG in `folder` of one file, a.dat, of `size` pseudo-random bytes.
bool buildImageOfOneFile(const QString& folder, qint64 size, quint32 seed) {
    const QString file = writeFile(folder, u"a.dat"_qs, randomBytes(size, seed));
    return run(tolkProgram(),
               {u"--repair"_qs, u"off"_qs, u"-v"_qs, u"V"_qs, u"-o"_qs, u"IMG"_qs, u"-m"_qs, file},
               folder)
               .status == 0;
}

// A file system of 2048-byte blocks (genisoimage's) in raw Mode 2 Form 1 sectors, the first
// one at `firstLba` on the disc.
QByteArray rawForm1(const QByteArray& iso, std::uint32_t firstLba = 0) {
    QByteArray raw(iso.size() / 2048 * 2352, '\0');
    for (qsizetype block = 0; block < iso.size() / 2048; ++block)
        cdimage::writeForm1(reinterpret_cast<std::uint8_t*>(raw.data()) + block * 2352,
                            std::uint32_t(firstLba + block), cdimage::Data,
                            reinterpret_cast<const std::uint8_t*>(iso.constData()) + block * 2048,
                            2048);
    return raw;
}

bool genisoimage(const QStringList& arguments, const QString& folder) {
    return run(u"genisoimage"_qs, QStringList{u"-quiet"_qs} + arguments, folder).status == 0;
}

} // namespace

class ReadingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void craftedImagesCostOnlyTheirBadEntries_data();
    void craftedImagesCostOnlyTheirBadEntries();
    void namesFromADiscNeverReachATerminalRaw();
    void imagesOfOtherToolsRead();
    void sessionsAppendedByOtherToolsRead_data();
    void sessionsAppendedByOtherToolsRead();
    void rawSectorsWithSubChannelRead();
    void tracksArePlacedWhereTheirHeadersSay();
    void fileOfSeveralExtentsComesBackOnce();
    void cloneCdImageOfSeveralSessionsGivesTheLast();
    void ecmImageReadAndPackedFormsNamed();
    void plainIsoGivesItsForm1FilesAndNamesItsForm2Ones();
    void compressedFileIsLeftOutByName();
    void damagedImageSaysWhatCameBackInPlainWords();
    void checkSaysWhatExtractionDoes_data();
    void checkSaysWhatExtractionDoes();
    void neroImagesWrittenAtOnceOfBothFormats();
    void nameGivenExactlyWinsAndTwoFitsAreRefused();
    void rockRidgeDeepFoldersAndEmptyFoldersComeBack();
    void damagedJolietTreeLeavesTheIsoNames();
    void enhancedCdIsReadFromItsLastSession();
    void riffCopyTrustsOnlyAListOfItsOwner();
    void forceNeverFollowsAnotherUsersLink();
    void forceNeverWritesThroughALinkInside();
    void killedRunsTemporariesGoWhateverTheirDestination();
};

// Each crafted image whole: the status, what must be there, and never anything outside DEST.
void ReadingTest::craftedImagesCostOnlyTheirBadEntries_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("present"); // below DEST
    QTest::addColumn<QString>("said");        // in what the run says
    QTest::newRow("amplify") << u"amplify"_qs << 3 << QStringList{} << u"past the end"_qs;
    QTest::newRow("ranges_overwrite")
        << u"ranges_overwrite"_qs << 3 << QStringList{u"x.damaged.ranges"_qs} << QString();
    QTest::newRow("damaged_collide")
        << u"damaged_collide"_qs << 3 << QStringList{u"x.damaged"_qs, u"x.damaged.ranges"_qs}
        << u"1 damaged"_qs;
    QTest::newRow("file_vs_folder")
        << u"file_vs_folder"_qs << 0 << QStringList{u"DIR/B.DAT"_qs} << u"2 files"_qs;
    QTest::newRow("long_joliet") << u"long_joliet"_qs << 0 << QStringList{u"ok.dat"_qs}
                                 << u"2 files"_qs;
    QTest::newRow("long_list") << u"long_list"_qs << 0 << QStringList{u"ok.dat"_qs}
                               << u"2 files"_qs;
    QTest::newRow("iso_names") << u"iso_names"_qs << 3 << QStringList{} << u"left out"_qs;
    QTest::newRow("joliet_names") << u"joliet_names"_qs << 0 << QStringList{} << QString();
    QTest::newRow("nest40") << u"nest40"_qs << 0
                            << QStringList{u"D/D/D/D/D/AT5.DAT"_qs,
                                           QString(u"D/"_qs).repeated(39) + u"DEEP.DAT"_qs}
                            << u"2 files"_qs;
    QTest::newRow("huge4g") << u"huge4g"_qs << 3 << QStringList{u"OK.DAT"_qs}
                            << u"left out \"HUGE.DAT;1\""_qs;
}

void ReadingTest::craftedImagesCostOnlyTheirBadEntries() {
    QFETCH(QString, image);
    QFETCH(int, status);
    QFETCH(QStringList, present);
    QFETCH(QString, said);
    QTemporaryDir folder;
    const QString data = QStringLiteral(HOSTILE_DATA) + u"/crafted/"_qs;
    if (!unpack(data + image + u".bin.xz"_qs, folder.path(), image + u".bin"_qs))
        QSKIP("xz cannot unpack the test image here");
    QFile::copy(data + image + u".cue"_qs, folder.filePath(image + u".cue"_qs));
    QDir(folder.path()).mkpath(u"work/canary"_qs);
    const QString work = folder.filePath(u"work"_qs);
    const Run whole = dat2file({folder.filePath(image + u".cue"_qs), work + u"/out"_qs}, work);
    QVERIFY2(whole.status == status, qPrintable(whole.output + whole.errors));
    const QString told = whole.output + whole.errors;
    QVERIFY2(told.contains(said), qPrintable(told));
    // Nothing beside DEST, nothing in the image's folder but the image.
    QCOMPARE(QDir(work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             (QStringList{u"canary"_qs, u"out"_qs}));
    QVERIFY(QDir(work + u"/canary"_qs).isEmpty());
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 2);
    const QMap<QString, QByteArray> found = filesUnder(work + u"/out"_qs);
    for (const QString& path : present)
        QVERIFY2(found.contains(path), qPrintable(found.keys().join(u", "_qs)));
    // Never more than the image holds, for each file.
    const qint64 imageBytes = QFileInfo(folder.filePath(image + u".bin"_qs)).size();
    for (auto it = found.begin(); it != found.end(); ++it)
        QVERIFY2(it.value().size() <= imageBytes, qPrintable(it.key()));
    if (image == u"ranges_overwrite"_qs) // the image's own file, not a list of ranges
        QVERIFY(!found[u"x.damaged.ranges"_qs].startsWith("# damaged byte ranges"));
    if (image == u"damaged_collide"_qs) { // the damaged copy's, and the image's files renamed
        QVERIFY(found[u"x.damaged.ranges"_qs].startsWith("# damaged byte ranges"));
        QCOMPARE(found.keys(),
                 (QStringList{u"Y.DAT"_qs, u"Z.DAT"_qs, u"x.damaged"_qs, u"x.damaged.ranges"_qs}));
    }
}

// Escape sequences in names are shown escaped, in listings and in every message.
void ReadingTest::namesFromADiscNeverReachATerminalRaw() {
    QTemporaryDir folder;
    const QString data = QStringLiteral(HOSTILE_DATA) + u"/crafted/"_qs;
    if (!unpack(data + u"escapes.bin.xz"_qs, folder.path(), u"escapes.bin"_qs))
        QSKIP("xz cannot unpack the test image here");
    QFile::copy(data + u"escapes.cue"_qs, folder.filePath(u"escapes.cue"_qs));
    const Run listed = dat2file({u"--list"_qs, u"escapes.cue"_qs}, folder.path());
    const Run whole = dat2file({u"escapes.cue"_qs, u"out"_qs}, folder.path());
    QCOMPARE(listed.status, 0);
    QCOMPARE(whole.status, 0);
    for (const QString& text : {listed.output, listed.errors, whole.output, whole.errors})
        for (const QChar c : text)
            QVERIFY2(c >= u' ' || c == u'\n' || c == u'\r', qPrintable(text));
    QVERIFY2(listed.output.contains(u"\\x1b]0;PWNED-TITLE\\x07"_qs), qPrintable(listed.output));
}

void ReadingTest::imagesOfOtherToolsRead() {
    QTemporaryDir folder;
    const QString data = QStringLiteral(IMAGES2_DATA) + u'/';
    if (!unpack(data + u"svcd-seg.nrg.xz"_qs, folder.path(), u"svcd-seg.nrg"_qs) ||
        !unpack(data + u"mixed.bin.xz"_qs, folder.path(), u"mixed.bin"_qs) ||
        !unpack(data + u"gmtoffset.bin.xz"_qs, folder.path(), u"gmtoffset.bin"_qs) ||
        !unpack(data + u"video-utf8.bin.xz"_qs, folder.path(), u"vidéo.bin"_qs))
        QSKIP("xz cannot unpack the test images here");
    for (const QString& name :
         {u"mixed.cue"_qs, u"gmtoffset.cue"_qs, u"latin1.cue"_qs, u"vcd.ccd"_qs, u"vcd.mds"_qs})
        QFile::copy(data + name, folder.filePath(name));

    // An old Nero image of four TAO tracks: every file, the MPEG tracks each sector a pack.
    const Run nero = dat2file({u"svcd-seg.nrg"_qs, u"nrg"_qs}, folder.path());
    QVERIFY2(nero.status == 0, qPrintable(nero.errors));
    const QMap<QString, QByteArray> svcd = filesUnder(folder.filePath(u"nrg"_qs));
    QCOMPARE(svcd.size(), 16);
    for (const QString& mpeg :
         {u"MPEG2/AVSEQ01.MPG"_qs, u"MPEG2/AVSEQ03.MPG"_qs, u"SEGMENT/ITEM0002.MPG"_qs}) {
        const QByteArray bytes = svcd.value(mpeg);
        QVERIFY2(!bytes.isEmpty() && bytes.size() % 2324 == 0, qPrintable(mpeg));
        for (qsizetype at = 0; at < bytes.size(); at += 2324)
            QVERIFY2(bytes.mid(at, 4) == QByteArray("\0\0\1\xBA", 4), qPrintable(mpeg));
    }
    QCOMPARE(svcd.value(u"EXTRA/DEEP/DEEPER/ODD5000.BIN"_qs).size(), 5000);
    // cd-info, an independent reader, finds the tracks where the file system has them.
    const Run info = run(
        u"cd-info"_qs,
        {u"--no-device-info"_qs, u"--no-cddb"_qs, u"--no-header"_qs, u"-i"_qs, u"svcd-seg.nrg"_qs},
        folder.path());
    if (info.status == 0)
        for (const QString& lsn : {u"690"_qs, u"895"_qs, u"1100"_qs})
            QVERIFY2(info.output.contains(lsn), qPrintable(info.output));

    // A Form 1 sector among Form 2 ones keeps its user area.
    const Run mixed =
        dat2file({u"--image"_qs, u"mixed.cue"_qs, u"DATA/MIXED.DAT"_qs, u"m"_qs}, folder.path());
    QVERIFY2(mixed.status == 0, qPrintable(mixed.errors));
    const QByteArray raw = readFile(data + u"raw2336.dat"_qs);
    QByteArray userAreas;
    for (qsizetype at = 0; at < raw.size(); at += 2336)
        userAreas += raw.mid(at + 8, 2324);
    QVERIFY(readFile(folder.filePath(u"m"_qs)) == userAreas);

    // Dates whose time-zone byte is out of range keep their day and hour (taken as UTC).
    QCOMPARE(dat2file({u"gmtoffset.cue"_qs, u"g"_qs}, folder.path()).status, 0);
    const auto dateOf = [&](const QString& name) {
        return QFileInfo(folder.filePath(u"g/"_qs + name)).lastModified().toUTC();
    };
    QCOMPARE(dateOf(u"ok2030.txt"_qs), QDateTime(QDate(2030, 6, 1), QTime(12, 0), Qt::UTC));
    QCOMPARE(dateOf(u"future2040.txt"_qs), QDateTime(QDate(2040, 6, 1), QTime(12, 0), Qt::UTC));

    // A cue sheet in Windows-1252 beside its bin named in UTF-8.
    const Run latin1 = dat2file({u"latin1.cue"_qs, u"l"_qs}, folder.path());
    QVERIFY2(latin1.status == 0, qPrintable(latin1.errors));

    // A CloneCD description is read, and names the file of its sectors where that is missing;
    // an Alcohol description is refused, naming the file to give instead.
    const Run ccd = dat2file({u"vcd.ccd"_qs, u"c"_qs}, folder.path());
    const Run mds = dat2file({u"--list"_qs, u"vcd.mds"_qs}, folder.path());
    QCOMPARE(ccd.status, 1);
    QCOMPARE(mds.status, 1);
    QVERIFY2(ccd.errors.contains(u"\"vcd.img\""_qs), qPrintable(ccd.errors));
    QVERIFY2(mds.errors.contains(u"Alcohol"_qs) && mds.errors.contains(u"\"vcd.mdf\""_qs),
             qPrintable(mds.errors));
    QVERIFY(!QFile::exists(folder.filePath(u"c"_qs)));
}

namespace {

QByteArray bigEndian(quint64 value, int bytes) {
    QByteArray out(bytes, '\0');
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        out[i] = char(value & 0xFF);
    return out;
}

QByteArray chunk(const char* id, const QByteArray& body) {
    return QByteArray(id) + bigEndian(quint64(body.size()), 4) + body;
}

// A Nero image written at once (DAO) of one Mode 2 track of raw sectors, its two-second pregap
// stored before it: the new format (NER5, DAOX, 64-bit numbers) or the old (NERO, DAOI).
QByteArray neroImage(const QByteArray& sectors, bool wide) {
    const int number = wide ? 8 : 4;
    const QByteArray pregap(150 * 2352, '\0');
    const QByteArray data = pregap + sectors;
    QByteArray dao = QByteArray(13, '\0') + QByteArray("\0\0\0", 3) + "\1\1"; // MCN, first, last
    dao += QByteArray(12, '\0') + bigEndian(2352, 2) + QByteArray("\6\0\0\0", 4) +
           bigEndian(0, number) + bigEndian(quint64(pregap.size()), number) +
           bigEndian(quint64(data.size()), number);
    dao = bigEndian(quint64(dao.size() + 4), 4) + dao;
    const QByteArray chunks =
        chunk(wide ? "DAOX" : "DAOI", dao) + chunk("SINF", bigEndian(1, 4)) + chunk("END!", {});
    return data + chunks +
           (wide ? "NER5" + bigEndian(quint64(data.size()), 8)
                 : "NERO" + bigEndian(quint64(data.size()), 4));
}

} // namespace

// Nero images of both formats, written at once: every file back, checked against its list.
void ReadingTest::sessionsAppendedByOtherToolsRead_data() {
    QTest::addColumn<QString>("image");
    // xorriso -grow_blindly writes no XA attributes: the files' form is their sectors'.
    QTest::newRow("no XA attributes") << u"form2_without_xa"_qs;
    // genisoimage -C/-M -V APPENDED renames the volume the file list names.
    QTest::newRow("volume renamed") << u"later_session_volume_name"_qs;
}

// One of our discs with a session appended by another tool: every file of ours back whole and
// checked against the list, the one added back too, --check saying all is intact.
void ReadingTest::sessionsAppendedByOtherToolsRead() {
    QFETCH(QString, image);
    QTemporaryDir folder;
    const QString data = QStringLiteral(IMAGES3_DATA) + u'/' + image + u'/';
    for (const QString& track : {u"ms (Track 1).bin"_qs, u"ms (Track 2).bin"_qs})
        if (!unpack(data + track + u".xz"_qs, folder.path(), track))
            QSKIP("xz cannot unpack the test images here");
    QFile::copy(data + u"ms-tracks.cue"_qs, folder.filePath(u"ms-tracks.cue"_qs));
    const Run back = dat2file({u"ms-tracks.cue"_qs, u"out"_qs}, folder.path());
    QVERIFY2(back.status == 0, qPrintable(back.errors));
    QVERIFY2(back.output.contains(u"3 files"_qs) && back.output.contains(u"2 checked"_qs),
             qPrintable(back.output));
    const QMap<QString, QByteArray> files = filesUnder(folder.filePath(u"out"_qs));
    QCOMPARE(files.keys(), (QStringList{u"added.txt"_qs, u"second.dat"_qs, u"small clip.mpg"_qs}));
    QCOMPARE(files[u"small clip.mpg"_qs].size(), 40000);
    const Run checked = dat2file({u"--check"_qs, u"ms-tracks.cue"_qs}, folder.path());
    QCOMPARE(checked.status, 0);
}

// A rip that keeps each sector's 96 bytes of sub-channel after it (2,448 bytes a sector), as
// cdrdao read-cd --read-subchan rw_raw writes it: through its table of contents, and bare.
void ReadingTest::rawSectorsWithSubChannelRead() {
    QTemporaryDir folder;
    const QString data = QStringLiteral(IMAGES3_DATA) + u"/sub2448/"_qs;
    if (!unpack(data + u"small-sub.bin.xz"_qs, folder.path(), u"small-sub.bin"_qs))
        QSKIP("xz cannot unpack the test images here");
    QFile::copy(data + u"small-sub.toc"_qs, folder.filePath(u"small-sub.toc"_qs));
    for (const QString& image : {u"small-sub.toc"_qs, u"small-sub.bin"_qs}) {
        const QString out = image.endsWith(u".toc"_qs) ? u"from-toc"_qs : u"from-bin"_qs;
        const Run back = dat2file({image, out}, folder.path());
        QVERIFY2(back.status == 0, qPrintable(image + u": "_qs + back.errors));
        QVERIFY2(back.output.contains(u"2 checked against the file list, 0 damaged"_qs),
                 qPrintable(back.output));
        QCOMPARE(filesUnder(folder.filePath(out)).keys(),
                 (QStringList{u"second.dat"_qs, u"small clip.mpg"_qs}));
        QCOMPARE(dat2file({u"--check"_qs, image}, folder.path()).status, 0);
    }
}

// A Video CD whose cue sheet (chdman extractcd's) says its MPEG tracks' pregaps are in no file,
// though the file holds them: each track lies where its sectors' headers say, and each MPEG
// file comes back whole, not shifted by the pregap: vcdimager's 30 empty sectors, then a pack
// in every sector, then its 45 empty ones.
void ReadingTest::tracksArePlacedWhereTheirHeadersSay() {
    QTemporaryDir folder;
    const QString data = QStringLiteral(IMAGES3_DATA) + u"/sector_address_unchecked/"_qs;
    if (!unpack(data + u"vcdsub-x.bin.xz"_qs, folder.path(), u"vcdsub-x.bin"_qs))
        QSKIP("xz cannot unpack the test images here");
    QFile::copy(data + u"vcdsub-x.cue"_qs, folder.filePath(u"vcdsub-x.cue"_qs));
    const Run back = dat2file({u"vcdsub-x.cue"_qs, u"out"_qs}, folder.path());
    QVERIFY2(back.status == 0, qPrintable(back.errors));
    for (const QString& name : {u"AVSEQ01.DAT"_qs, u"AVSEQ02.DAT"_qs, u"AVSEQ03.DAT"_qs}) {
        const QByteArray mpeg = readFile(folder.filePath(u"out/MPEGAV/"_qs + name));
        QCOMPARE(mpeg.size(), 298 * 2324);
        for (qsizetype sector = 0; sector < 298; ++sector) {
            const QByteArray bytes = mpeg.mid(sector * 2324, 2324);
            const bool pack = bytes.startsWith(QByteArray("\0\0\1\xBA", 4));
            QVERIFY2(pack == (sector >= 30 && sector < 253),
                     qPrintable(name + u" sector "_qs + QString::number(sector)));
            QVERIFY(pack || bytes.count('\0') == 2324);
        }
    }
}

// A file recorded in two extents (ISO 9660 level 3: the first record flagged, a whole number of
// blocks): one file, its extents joined, as isoinfo gives it from the same sectors.
void ReadingTest::fileOfSeveralExtentsComesBackOnce() {
    QTemporaryDir folder;
    const QString data = QStringLiteral(IMAGES3_DATA) + u"/multiextent_crafted/"_qs;
    if (!unpack(data + u"crafted.bin.xz"_qs, folder.path(), u"crafted.bin"_qs))
        QSKIP("xz cannot unpack the test images here");
    QFile::copy(data + u"crafted.cue"_qs, folder.filePath(u"crafted.cue"_qs));
    const Run back = dat2file({u"crafted.cue"_qs, u"out"_qs}, folder.path());
    QVERIFY2(back.status == 0, qPrintable(back.errors));
    const QMap<QString, QByteArray> files = filesUnder(folder.filePath(u"out"_qs));
    QCOMPARE(files.keys(), (QStringList{u"other.txt"_qs, u"split.dat"_qs}));
    QCOMPARE(files[u"split.dat"_qs].size(), 300000);
    const Run listed = dat2file({u"--list"_qs, u"crafted.cue"_qs}, folder.path());
    QCOMPARE(listed.output.count(u"SPLIT.DAT;1"_qs), 1);
    // isoinfo, from the sectors' 2048-byte view.
    const QByteArray raw = readFile(folder.filePath(u"crafted.bin"_qs));
    QByteArray iso;
    for (qsizetype at = 0; at < raw.size(); at += 2352)
        iso += raw.mid(at + 24, 2048);
    writeFile(folder.path(), u"c.iso"_qs, iso);
    QProcess isoinfo;
    isoinfo.setWorkingDirectory(folder.path());
    isoinfo.start(u"isoinfo"_qs, {u"-i"_qs, u"c.iso"_qs, u"-J"_qs, u"-x"_qs, u"/split.dat"_qs});
    if (!isoinfo.waitForFinished() || isoinfo.exitCode() != 0)
        QSKIP("isoinfo cannot be run here");
    QVERIFY(isoinfo.readAllStandardOutput() == files[u"split.dat"_qs]);
}

// Three sessions made by xorriso, kept as CloneCD keeps them (the tracks back to back in the
// .img, the .ccd telling where each session lies): the last session's tree, through the .ccd
// and from the bare .img alike, as isoinfo reads it at the last session's address.
void ReadingTest::cloneCdImageOfSeveralSessionsGivesTheLast() {
    QTemporaryDir folder;
    const QString data = QStringLiteral(IMAGES3_DATA) + u"/multisession_clonecd/"_qs;
    if (!unpack(data + u"x.img.xz"_qs, folder.path(), u"x.img"_qs))
        QSKIP("xz cannot unpack the test images here");
    QFile::copy(data + u"x.ccd"_qs, folder.filePath(u"x.ccd"_qs));
    const QStringList lastTree{u"a/keep.txt"_qs, u"a/replace.dat"_qs, u"big1.dat"_qs,
                               u"s3/deep/new3.txt"_qs};
    QMap<QString, QByteArray> fromCcd;
    for (const QString& image : {u"x.ccd"_qs, u"x.img"_qs}) {
        const QString out = u"from-"_qs + image.right(3);
        const Run back = dat2file({image, out}, folder.path());
        QVERIFY2(back.status == 0, qPrintable(image + u": "_qs + back.errors));
        const QMap<QString, QByteArray> files = filesUnder(folder.filePath(out));
        QCOMPARE(files.keys(), lastTree);
        QCOMPARE(files[u"a/replace.dat"_qs].size(), 9000); // session 3's, not session 1's
        if (fromCcd.isEmpty())
            fromCcd = files;
        QVERIFY(files == fromCcd);
    }
    // The disc as 2048-byte blocks at the addresses the sectors' headers name, read by isoinfo
    // from the last session on.
    const QByteArray raw = readFile(folder.filePath(u"x.img"_qs));
    QByteArray iso;
    for (qsizetype at = 0; at + 2352 <= raw.size(); at += 2352) {
        const auto* header = reinterpret_cast<const std::uint8_t*>(raw.constData()) + at + 12;
        const qsizetype lba = qsizetype(cdimage::lbaOfHeader(header));
        if (iso.size() < (lba + 1) * 2048)
            iso.resize((lba + 1) * 2048, '\0');
        iso.replace(lba * 2048, 2048, raw.mid(at + 24, 2048));
    }
    writeFile(folder.path(), u"x.iso"_qs, iso);
    QProcess isoinfo;
    isoinfo.setWorkingDirectory(folder.path());
    isoinfo.start(u"isoinfo"_qs, {u"-i"_qs, u"x.iso"_qs, u"-T"_qs, u"18876"_qs, u"-R"_qs, u"-x"_qs,
                                  u"/a/replace.dat"_qs});
    if (!isoinfo.waitForFinished() || isoinfo.exitCode() != 0)
        QSKIP("isoinfo cannot be run here");
    QVERIFY(isoinfo.readAllStandardOutput() == fromCcd[u"a/replace.dat"_qs]);
}

// An image kept as ECM (its sectors without sync pattern, EDC and ECC) is read as the image it
// stands for: every file back and checked against the file list, whose SHA-256 were computed
// when the image was built. Forms that are not read here are named, with the command that
// gives the image back.
void ReadingTest::ecmImageReadAndPackedFormsNamed() {
    QTemporaryDir folder;
    const QString data = QStringLiteral(IMAGES3_DATA) + u"/chd_ecm/"_qs;
    if (!unpack(data + u"small.bin.ecm.xz"_qs, folder.path(), u"small.bin.ecm"_qs))
        QSKIP("xz cannot unpack the test images here");
    const Run back = dat2file({u"small.bin.ecm"_qs, u"out"_qs}, folder.path());
    QVERIFY2(back.status == 0, qPrintable(back.errors));
    QVERIFY2(back.output.contains(u"checked against the file list, 0 damaged"_qs),
             qPrintable(back.output));
    QVERIFY(!filesUnder(folder.filePath(u"out"_qs)).isEmpty());
    QCOMPARE(dat2file({u"--check"_qs, u"small.bin.ecm"_qs}, folder.path()).status, 0);

    // An ECM file cut short, or whose runs claim more than it holds: refused, never read past.
    QByteArray ecm = readFile(folder.filePath(u"small.bin.ecm"_qs));
    writeFile(folder.path(), u"cut.ecm"_qs, ecm.left(ecm.size() / 2));
    writeFile(folder.path(), u"huge.ecm"_qs,
              QByteArray("ECM\0\xFF\xFF\xFF\xFF\x7F", 9) + QByteArray(100, '\0'));
    for (const QString& broken : {u"cut.ecm"_qs, u"huge.ecm"_qs}) {
        const Run refused = dat2file({broken, u"o-"_qs + broken}, folder.path());
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.errors.contains(u"is not an ECM file that can be read"_qs),
                 qPrintable(refused.errors));
    }

    // chdman createcd's CHD of the same image.
    if (!unpack(data + u"small.chd.xz"_qs, folder.path(), u"small.chd"_qs))
        QSKIP("xz cannot unpack the test images here");
    const struct {
        QString name;
        QByteArray head;
        QString told;
    } packed[] = {
        {u"small.chd"_qs, {}, u"chdman extractcd -i \"small.chd\" -o \"small.cue\""_qs},
        {u"disc.7z"_qs, QByteArray("7z\xBC\xAF\x27\x1C\0\4", 8), u"7z x \"disc.7z\""_qs},
        {u"disc.zip"_qs, "PK\3\4\x14\0"_ba, u"unzip \"disc.zip\""_qs},
    };
    for (const auto& form : packed) {
        if (!form.head.isEmpty())
            writeFile(folder.path(), form.name, form.head + QByteArray(4096, '\1'));
        for (const QStringList& arguments :
             {QStringList{form.name, u"out2"_qs}, QStringList{u"--list"_qs, form.name}}) {
            const Run refused = dat2file(arguments, folder.path());
            QCOMPARE(refused.status, 1);
            QVERIFY2(refused.errors.contains(form.told), qPrintable(refused.errors));
        }
    }
}

// An image of 2048-byte blocks: genisoimage's files come back exact; an image of ours kept that
// way (a plain reader's copy of the disc) names each Form 2 file it cannot hold, and why.
void ReadingTest::plainIsoGivesItsForm1FilesAndNamesItsForm2Ones() {
    QTemporaryDir folder;
    const QByteArray text = randomBytes(150000, 7), nested = randomBytes(70001, 8);
    QDir(folder.path()).mkpath(u"tree/sub"_qs);
    writeFile(folder.filePath(u"tree"_qs), u"text.txt"_qs, text);
    writeFile(folder.filePath(u"tree/sub"_qs), u"nested.bin"_qs, nested);
    if (!genisoimage({u"-J"_qs, u"-R"_qs, u"-o"_qs, u"plain.iso"_qs, u"tree"_qs}, folder.path()))
        QSKIP("genisoimage cannot be run here");
    const Run plain = dat2file({u"plain.iso"_qs, u"out"_qs}, folder.path());
    QVERIFY2(plain.status == 0, qPrintable(plain.errors));
    const QMap<QString, QByteArray> files = filesUnder(folder.filePath(u"out"_qs));
    QCOMPARE(files.keys(), (QStringList{u"sub/nested.bin"_qs, u"text.txt"_qs}));
    QVERIFY(files[u"text.txt"_qs] == text && files[u"sub/nested.bin"_qs] == nested);

    QVERIFY(buildImageOfOneFile(folder.path(), 500000, 9));
    const QByteArray raw = readFile(folder.filePath(u"IMG.bin"_qs));
    QByteArray blocks;
    for (qsizetype at = 0; at + 2352 <= raw.size(); at += 2352)
        blocks += raw.mid(at + 24, 2048);
    writeFile(folder.path(), u"ours.iso"_qs, blocks);
    const Run ours = dat2file({u"ours.iso"_qs, u"ours"_qs}, folder.path());
    QCOMPARE(ours.status, 3);
    QVERIFY2(ours.errors.contains(u"is a Form 2 file"_qs) &&
                 ours.errors.contains(u"plain ISO 9660 image"_qs),
             qPrintable(ours.errors));
    QVERIFY(!QFile::exists(folder.filePath(u"ours/a.dat"_qs)));
}

namespace {

// A file compressed as zisofs stores it: its header, a pointer to each 32 KiB block and past the
// last, each block a zlib stream.
QByteArray zisofs(const QByteArray& bytes) {
    constexpr qsizetype kBlock = 32768;
    const qsizetype blocks = (bytes.size() + kBlock - 1) / kBlock;
    QByteArray header("\x37\xE4\x53\x96\xC9\xDB\xD6\x07", 8);
    header += QByteArray(8, '\0');
    qToLittleEndian<quint32>(quint32(bytes.size()), header.data() + 8);
    header[12] = 4;  // its header's size in 4-byte words
    header[13] = 15; // log2 of the block size
    QByteArray pointers((blocks + 1) * 4, '\0'), body;
    qsizetype at = header.size() + pointers.size();
    for (qsizetype block = 0; block <= blocks; ++block) {
        qToLittleEndian<quint32>(quint32(at + body.size()), pointers.data() + block * 4);
        if (block < blocks)
            body += qCompress(bytes.mid(block * kBlock, kBlock)).mid(4); // without Qt's length
    }
    return header + pointers + body;
}

} // namespace

// A file stored compressed (zisofs, which genisoimage -z marks with a Rock Ridge ZF field): left
// out by name with what gives it whole, the other files back.
void ReadingTest::compressedFileIsLeftOutByName() {
    QTemporaryDir folder;
    QDir(folder.path()).mkpath(u"tree"_qs);
    const QByteArray text = QByteArray("Ar Men, Kereon, la Jument. ").repeated(9000);
    const QByteArray plain = randomBytes(80000, 11);
    writeFile(folder.filePath(u"tree"_qs), u"text.txt"_qs, zisofs(text));
    writeFile(folder.filePath(u"tree"_qs), u"plain.bin"_qs, plain);
    if (!genisoimage({u"-R"_qs, u"-z"_qs, u"-o"_qs, u"z.iso"_qs, u"tree"_qs}, folder.path()))
        QSKIP("genisoimage cannot be run here");
    writeFile(folder.path(), u"z.bin"_qs, rawForm1(readFile(folder.filePath(u"z.iso"_qs))));
    const Run back = dat2file({u"z.bin"_qs, u"out"_qs}, folder.path());
    QCOMPARE(back.status, 3);
    QVERIFY2(back.errors.contains(u"left out \"TEXT.TXT;1\""_qs) &&
                 back.errors.contains(u"zisofs"_qs),
             qPrintable(back.errors));
    QCOMPARE(filesUnder(folder.filePath(u"out"_qs)).keys(), QStringList{u"PLAIN.BIN"_qs});
    QVERIFY(readFile(folder.filePath(u"out/PLAIN.BIN"_qs)) == plain);
}

// An image without repair data, ten sectors of one of its three files zeroed: the closing line
// names what came back whole and what did not, with what was lost, where its ranges are and
// what to try.
void ReadingTest::damagedImageSaysWhatCameBackInPlainWords() {
    QTemporaryDir folder;
    QStringList files;
    for (const auto& [name, size] :
         {std::pair{u"Phare d'Eckmühl.mpg"_qs, 400000}, std::pair{u"a.dat"_qs, 300000},
          std::pair{u"c.dat"_qs, 200000}})
        files.append(writeFile(folder.path(), name, randomBytes(size, quint32(size))));
    QVERIFY(run(tolkProgram(),
                QStringList{u"--repair"_qs, u"off"_qs, u"-v"_qs, u"V"_qs, u"-o"_qs, u"IMG"_qs,
                            u"-m"_qs} +
                    files,
                folder.path())
                .status == 0);
    const qint64 first =
        placeOf(folder.filePath(u"IMG.cue"_qs), u"PHARE_D_ECKM_HL.MPG"_qs, folder.path()).first;
    QByteArray bin = readFile(folder.filePath(u"IMG.bin"_qs));
    bin.replace((first + 20) * 2352, 10 * 2352, QByteArray(10 * 2352, '\0'));
    writeFile(folder.path(), u"IMG.bin"_qs, bin);
    const Run back = dat2file({u"IMG.cue"_qs, u"out"_qs}, folder.path());
    QCOMPARE(back.status, 3);
    QVERIFY2(back.output.contains(u"; 2 back whole, 1 damaged: \"Phare d'Eckmühl.mpg\" (23.2 kB "
                                  "lost) — its damaged parts are zeros, listed in \"Phare "
                                  "d'Eckmühl.mpg.damaged.ranges\"; try another drive or another "
                                  "copy"_qs),
             qPrintable(back.output));
}

void ReadingTest::checkSaysWhatExtractionDoes_data() {
    QTest::addColumn<QString>("packed");    // the image's sectors, xz-compressed
    QTest::addColumn<QString>("opened");    // what dat2file is given
    QTest::addColumn<QList<int>>("harmed"); // sectors one user byte of which is flipped
    const QString foreign = QStringLiteral(FOREIGN_DATA) + u'/';
    const QString images2 = QStringLiteral(IMAGES2_DATA) + u'/';
    QList<int> twenty;
    for (int lba = 460; lba < 480; ++lba)
        twenty.append(lba);
    QTest::newRow("Video CD") << foreign + u"vcd.bin.xz"_qs << u"vcd.bin"_qs << QList<int>{};
    QTest::newRow("Video CD, a byte of AVSEQ01.DAT flipped")
        << foreign + u"vcd.bin.xz"_qs << u"vcd.bin"_qs << QList<int>{460};
    QTest::newRow("Video CD, twenty sectors failing their EDC")
        << foreign + u"vcd.bin.xz"_qs << u"vcd.bin"_qs << twenty;
    QTest::newRow("Video CD, a Form 1 file's sector flipped")
        << foreign + u"vcd.bin.xz"_qs << u"vcd.bin"_qs << QList<int>{151};
    QTest::newRow("Form 1 sector among Form 2")
        << images2 + u"mixed.bin.xz"_qs << u"mixed.cue"_qs << QList<int>{};
    QTest::newRow("odd time zones")
        << images2 + u"gmtoffset.bin.xz"_qs << u"gmtoffset.cue"_qs << QList<int>{};
    QTest::newRow("Nero, four tracks")
        << images2 + u"svcd-seg.nrg.xz"_qs << u"svcd-seg.nrg"_qs << QList<int>{};
}

// Whatever the image and its harm, --check calls damaged exactly the files extraction writes
// as damaged copies, and ends with the matching status.
void ReadingTest::checkSaysWhatExtractionDoes() {
    QFETCH(QString, packed);
    QFETCH(QString, opened);
    QFETCH(QList<int>, harmed);
    QTemporaryDir folder;
    const QString bin = QFileInfo(packed).completeBaseName();
    if (!unpack(packed, folder.path(), bin))
        QSKIP("xz cannot unpack the test images here");
    if (opened != bin)
        QFile::copy(QFileInfo(packed).path() + u'/' + opened, folder.filePath(opened));
    QByteArray bytes = readFile(folder.filePath(bin));
    for (const int lba : harmed)
        bytes[qsizetype(lba) * 2352 + 24 + 100] =
            char(bytes[qsizetype(lba) * 2352 + 24 + 100] ^ 0x5A);
    writeFile(folder.path(), bin, bytes);

    const Run extracted = dat2file({opened, u"out"_qs}, folder.path());
    QStringList damagedCopies;
    const QMap<QString, QByteArray> files = filesUnder(folder.filePath(u"out"_qs));
    for (const QString& name : files.keys())
        if (name.endsWith(u".damaged"_qs))
            damagedCopies.append(name.chopped(8));
    const Run checked = dat2file({u"--check"_qs, opened}, folder.path());
    QStringList damagedChecked;
    for (const QString& line : checked.output.split(u'\n'))
        if (line.startsWith(u"damaged    "_qs))
            damagedChecked.append(line.mid(11).section(u": "_qs, 0, 0));
    damagedCopies.sort();
    damagedChecked.sort();
    QCOMPARE(damagedChecked, damagedCopies);
    QCOMPARE(damagedCopies.isEmpty(), harmed.isEmpty());
    QCOMPARE(extracted.status, harmed.isEmpty() ? 0 : 3);
    QCOMPARE(checked.status, extracted.status);
}

void ReadingTest::neroImagesWrittenAtOnceOfBothFormats() {
    QTemporaryDir folder;
    const QByteArray a = randomBytes(70000, 7), b = randomBytes(3000, 8);
    writeFile(folder.path(), u"a.mpg"_qs, a);
    writeFile(folder.path(), u"b.dat"_qs, b);
    const Run built = run(tolkProgram(),
                          {u"-v"_qs, u"NERO"_qs, u"-o"_qs, u"IMG"_qs, u"-m"_qs,
                           folder.filePath(u"a.mpg"_qs), folder.filePath(u"b.dat"_qs)},
                          folder.path());
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    const QByteArray sectors = readFile(folder.filePath(u"IMG.bin"_qs));
    for (const bool wide : {true, false}) {
        const QString name = wide ? u"new.nrg"_qs : u"old.nrg"_qs;
        writeFile(folder.path(), name, neroImage(sectors, wide));
        const Run whole = dat2file({name, u"out/"_qs + name}, folder.path());
        QVERIFY2(whole.status == 0, qPrintable(whole.errors));
        QVERIFY2(whole.output.contains(u"2 checked against the file list"_qs),
                 qPrintable(whole.output));
        QCOMPARE(filesUnder(folder.filePath(u"out/"_qs + name.chopped(4))),
                 (QMap<QString, QByteArray>{{u"a.mpg"_qs, a}, {u"b.dat"_qs, b}}));
    }
}

// Clip.dat and clip.dat, two files of one ISO 9660 name but for case, and an empty file by its
// original name only.
void ReadingTest::nameGivenExactlyWinsAndTwoFitsAreRefused() {
    QTemporaryDir folder;
    const QByteArray upper = randomBytes(7000, 1), lower = randomBytes(8000, 2);
    writeFile(folder.path(), u"a/Clip.dat"_qs, upper);
    writeFile(folder.path(), u"b/clip.dat"_qs, lower);
    writeFile(folder.path(), u"日本語.dat"_qs, QByteArray());
    const Run built = run(tolkProgram(),
                          {u"-v"_qs, u"NAMES"_qs, u"-o"_qs, u"names"_qs, u"-m"_qs,
                           folder.filePath(u"a/Clip.dat"_qs), folder.filePath(u"b/clip.dat"_qs),
                           folder.filePath(u"日本語.dat"_qs)},
                          folder.path());
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    const auto extract = [&](const QString& name, const QString& out) {
        return dat2file({u"--image"_qs, u"names.cue"_qs, name, out}, folder.path());
    };
    QCOMPARE(extract(u"clip.dat"_qs, u"o1"_qs).status, 0);
    QVERIFY(readFile(folder.filePath(u"o1"_qs)) == lower);
    QCOMPARE(extract(u"Clip.dat"_qs, u"o2"_qs).status, 0);
    QVERIFY(readFile(folder.filePath(u"o2"_qs)) == upper);
    QCOMPARE(extract(u"日本語.dat"_qs, u"o3"_qs).status, 0);
    QCOMPARE(QFileInfo(folder.filePath(u"o3"_qs)).size(), 0);
    const Run twice = extract(u"CLIP.dat"_qs, u"o4"_qs);
    QCOMPARE(twice.status, 1);
    QVERIFY2(twice.errors.contains(u"\"CLIP.DAT;1\""_qs) &&
                 twice.errors.contains(u"\"CLIP1.DAT;1\""_qs),
             qPrintable(twice.errors));
    QVERIFY(!QFile::exists(folder.filePath(u"o4"_qs)));
}

// Rock Ridge moves folders deeper than eight levels to rr_moved and leaves a record in their
// place; an empty folder is a folder of the copy too.
void ReadingTest::rockRidgeDeepFoldersAndEmptyFoldersComeBack() {
    QTemporaryDir folder;
    const QString deep = u"tree/"_qs + QString(u"level/"_qs).repeated(11) + u"bottom.dat"_qs;
    const QByteArray bottom = randomBytes(10000, 3);
    writeFile(folder.path(), deep, bottom);
    QDir(folder.path()).mkpath(u"tree/empty/inner"_qs);
    if (!genisoimage({u"-R"_qs, u"-o"_qs, u"rr.iso"_qs, u"tree"_qs}, folder.path()))
        QSKIP("genisoimage cannot be run here");
    writeFile(folder.path(), u"rr.bin"_qs, rawForm1(readFile(folder.filePath(u"rr.iso"_qs))));
    const Run whole = dat2file({u"rr.bin"_qs, u"out"_qs}, folder.path());
    QVERIFY2(whole.status == 0, qPrintable(whole.output + whole.errors));
    const QMap<QString, QByteArray> found = filesUnder(folder.filePath(u"out"_qs));
    QCOMPARE(found.keys(), QStringList{QString(u"LEVEL/"_qs).repeated(11) + u"BOTTOM.DAT"_qs});
    QVERIFY(found.first() == bottom);
    QVERIFY(QFileInfo(folder.filePath(u"out/EMPTY/INNER"_qs)).isDir());
    QVERIFY(!QFileInfo::exists(folder.filePath(u"out/RR_MOVED"_qs)));
}

// The Joliet tree's root cannot be read: every file still comes back, under its ISO 9660 name.
void ReadingTest::damagedJolietTreeLeavesTheIsoNames() {
    QTemporaryDir folder;
    const QByteArray a = randomBytes(9000, 12), b = randomBytes(100, 13);
    writeFile(folder.path(), u"tree/Long name a.dat"_qs, a);
    writeFile(folder.path(), u"tree/b.dat"_qs, b);
    if (!genisoimage({u"-J"_qs, u"-o"_qs, u"j.iso"_qs, u"tree"_qs}, folder.path()))
        QSKIP("genisoimage cannot be run here");
    QByteArray iso = readFile(folder.filePath(u"j.iso"_qs));
    // The Joliet volume descriptor follows the primary one; its root record names the folder.
    const qsizetype joliet = 17 * 2048;
    QVERIFY(iso.mid(joliet + 1, 5) == "CD001" && iso[joliet] == 2);
    const auto root = qFromLittleEndian<quint32>(iso.constData() + joliet + 156 + 2);
    iso.replace(qsizetype(root) * 2048, 2048, QByteArray(2048, '\xFF'));
    writeFile(folder.path(), u"j.bin"_qs, rawForm1(iso));
    const Run whole = dat2file({u"j.bin"_qs, u"out"_qs}, folder.path());
    QVERIFY2(whole.status == 0, qPrintable(whole.errors));
    QVERIFY2(whole.errors.contains(u"the Joliet names cannot be read"_qs),
             qPrintable(whole.errors));
    QCOMPARE(filesUnder(folder.filePath(u"out"_qs)),
             (QMap<QString, QByteArray>{{u"LONG_NAM.DAT"_qs, a}, {u"B.DAT"_qs, b}}));
}

// An Enhanced CD: an audio track in the first session, the files in a second one whose sectors
// carry the addresses of the disc (after the lead-out and lead-in between the sessions).
void ReadingTest::enhancedCdIsReadFromItsLastSession() {
    QTemporaryDir folder;
    const QByteArray song = randomBytes(300 * 2352, 4), data = randomBytes(50000, 5);
    writeFile(folder.path(), u"tree/data.bin"_qs, data);
    constexpr int kAudio = 300, kStart = kAudio + 6750 + 4500 + 150;
    if (!genisoimage(
            {u"-J"_qs, u"-C"_qs, u"0,%1"_qs.arg(kStart), u"-o"_qs, u"s2.iso"_qs, u"tree"_qs},
            folder.path()))
        QSKIP("genisoimage cannot be run here");
    writeFile(folder.path(), u"ecd.bin"_qs,
              song + rawForm1(readFile(folder.filePath(u"s2.iso"_qs)), kStart));
    writeFile(folder.path(), u"ecd.cue"_qs,
              "FILE \"ecd.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
              "REM SESSION 02\n  TRACK 02 MODE2/2352\n    INDEX 01 00:04:00\n");
    const Run whole = dat2file({u"ecd.cue"_qs, u"out"_qs}, folder.path());
    QVERIFY2(whole.status == 0, qPrintable(whole.output + whole.errors));
    QCOMPARE(filesUnder(folder.filePath(u"out"_qs)),
             (QMap<QString, QByteArray>{{u"data.bin"_qs, data}}));
}

// A file list planted in a folder that others may write to (/tmp) is not the copy's.
void ReadingTest::riffCopyTrustsOnlyAListOfItsOwner() {
    if (testingWindowsTools())
        QSKIP("a folder's rights are ACLs on Windows, not its mode");
    QTemporaryDir folder;
    const QByteArray a = randomBytes(6972, 6);
    writeFile(folder.path(), u"a.dat"_qs, a);
    const Run built =
        run(tolkProgram(),
            {u"-v"_qs, u"V"_qs, u"-o"_qs, u"IMG"_qs, u"-m"_qs, folder.filePath(u"a.dat"_qs)},
            folder.path());
    QVERIFY2(built.status == 0, qPrintable(built.errors));
    const QByteArray riff =
        riffOf(folder.filePath(u"IMG.bin"_qs),
               placeOf(folder.filePath(u"IMG.cue"_qs), u"A.DAT"_qs, folder.path()));
    const Run listed = dat2file({u"--list"_qs, u"IMG.cue"_qs}, folder.path());
    QVERIFY(listed.status == 0);
    // The list, cut to say the file has 4649 bytes, beside the copy in an open folder.
    const QByteArray list = listed.output.toUtf8();
    QVERIFY(!list.isEmpty());
    QDir(folder.path()).mkpath(u"open/cd"_qs);
    const QString copy = writeFile(folder.path(), u"open/cd/A.DAT"_qs, riff);
    QByteArray lie = readFile(folder.filePath(u"IMG.bin"_qs)); // the real list, from the image
    const qsizetype at = lie.indexOf(" 6972 ");
    QVERIFY(at > 0);
    const qsizetype start = lie.lastIndexOf('\n', at) + 1, end = lie.indexOf('\n', at);
    const QByteArray line = lie.mid(start, end - start);
    writeFile(folder.path(), u"open/VELMORA.LST"_qs,
              "# volume V\n" + QByteArray(line).replace(" 6972 ", " 4649 ") + "\n");
    QVERIFY(::chmod(QFile::encodeName(folder.filePath(u"open"_qs)).constData(), 01777) == 0);
    const Run open = dat2file({copy, u"o1"_qs}, folder.path());
    QVERIFY2(open.status == 0, qPrintable(open.errors));
    QVERIFY2(readFile(folder.filePath(u"o1"_qs)).startsWith(a), "the planted list was used");
    // A true list in a folder only its owner writes to is the copy's, and is named.
    QVERIFY(::chmod(QFile::encodeName(folder.filePath(u"open"_qs)).constData(), 0755) == 0);
    writeFile(folder.path(), u"open/VELMORA.LST"_qs, "# volume V\n" + line + "\n");
    const Run owned = dat2file({copy, u"o2"_qs}, folder.path());
    QVERIFY2(owned.status == 0, qPrintable(owned.errors));
    QVERIFY2(owned.output.contains(u"checked against the file list \""_qs + folder.path() +
                                   u"/open/VELMORA.LST\""_qs),
             qPrintable(owned.output));
    QVERIFY(readFile(folder.filePath(u"o2"_qs)) == a);
}

// A link planted where DEST will be, by another user, into a folder of theirs.
void ReadingTest::forceNeverFollowsAnotherUsersLink() {
    if (::getuid() != 0)
        QSKIP("only root can make a link that another user owns");
    if (testingWindowsTools())
        QSKIP("links and their owners are POSIX's");
    QTemporaryDir folder;
    QVERIFY(buildImageOfOneFile(folder.path(), 5000, 9));
    QDir(folder.path()).mkdir(u"theirs"_qs);
    QVERIFY(QFile::link(folder.filePath(u"theirs"_qs), folder.filePath(u"out"_qs)));
    const QByteArray link = QFile::encodeName(folder.filePath(u"out"_qs));
    QVERIFY(::lchown(link.constData(), 65534, 65534) == 0); // nobody's
    const Run planted = dat2file({u"--force"_qs, u"IMG.bin"_qs, u"out"_qs}, folder.path());
    QCOMPARE(planted.status, 1);
    QVERIFY2(planted.errors.contains(u"symbolic link of another user"_qs),
             qPrintable(planted.errors));
    QVERIFY(QDir(folder.filePath(u"theirs"_qs)).isEmpty());
    // The user's own link is the user's choice.
    QVERIFY(::lchown(link.constData(), 0, 0) == 0);
    QCOMPARE(dat2file({u"--force"_qs, u"IMG.bin"_qs, u"out"_qs}, folder.path()).status, 0);
    QVERIFY(QFileInfo::exists(folder.filePath(u"theirs/a.dat"_qs)));
}

// With --force into an existing folder, a symbolic link inside it (the user's own, to a folder
// elsewhere) is never written through: what would go there is left out, named, and nothing
// appears outside the folder written.
void ReadingTest::forceNeverWritesThroughALinkInside() {
    if (testingWindowsTools())
        QSKIP("symbolic links here are POSIX's");
    QTemporaryDir folder;
    const QByteArray clip = randomBytes(9000, 21), deeper = randomBytes(4000, 22),
                     beside = randomBytes(3000, 23);
    writeFile(folder.path(), u"tree/CLIPS/A.DAT"_qs, clip);
    writeFile(folder.path(), u"tree/CLIPS/MORE/C.DAT"_qs, deeper);
    writeFile(folder.path(), u"tree/B.DAT"_qs, beside);
    if (!genisoimage({u"-o"_qs, u"t.iso"_qs, u"tree"_qs}, folder.path()))
        QSKIP("genisoimage cannot be run here");
    writeFile(folder.path(), u"t.bin"_qs, rawForm1(readFile(folder.filePath(u"t.iso"_qs))));
    QDir(folder.path()).mkpath(u"out"_qs);
    QDir(folder.path()).mkpath(u"elsewhere"_qs);
    QVERIFY(QFile::link(folder.filePath(u"elsewhere"_qs), folder.filePath(u"out/CLIPS"_qs)));
    const Run run = dat2file({u"--force"_qs, u"t.bin"_qs, u"out"_qs}, folder.path());
    QCOMPARE(run.status, 3);
    QVERIFY2(run.errors.contains(u"is a symbolic link: nothing is written through one"_qs),
             qPrintable(run.errors));
    QVERIFY(QDir(folder.filePath(u"elsewhere"_qs)).isEmpty());
    QCOMPARE(readFile(folder.filePath(u"out/B.DAT"_qs)), beside);
}

// A run killed while filling a folder leaves it; the next run in that folder removes it, for
// whatever destination it was.
void ReadingTest::killedRunsTemporariesGoWhateverTheirDestination() {
    QTemporaryDir folder;
    QVERIFY(buildImageOfOneFile(folder.path(), 5000, 10));
    // No process has so high a number.
    const QString stale = u"out/.other.dat2file-2147483646-0.tmp"_qs;
    writeFile(folder.path(), stale + u"/half.mpg"_qs, randomBytes(100000, 11));
    writeFile(folder.path(), u"out/.kept.dat2file-x.tmp"_qs, "not ours"); // no run's name
    QCOMPARE(dat2file({u"IMG.bin"_qs, u"out/copy"_qs}, folder.path()).status, 0);
    QVERIFY(!QFileInfo::exists(folder.filePath(stale)));
    QVERIFY(QFileInfo::exists(folder.filePath(u"out/.kept.dat2file-x.tmp"_qs)));
    QVERIFY(QFileInfo::exists(folder.filePath(u"out/copy/a.dat"_qs)));
}

QTEST_GUILESS_MAIN(ReadingTest)
#include "tst_reading.moc"
