// SPDX-License-Identifier: GPL-3.0-or-later
// The CD image library: EDC and ECC of raw sectors, addresses, ISO 9660 names and the file list.

#include "cdimage/base/ecc.h"
#include "cdimage/base/edc.h"
#include "cdimage/base/names.h"
#include "cdimage/base/sector.h"
#include "cdimage/format/filelist.h"
#include "cdimage/read/discreader.h"
#include "cdimage/write/imagebuilder.h"
#include "terminal/progress.h"
#include "toolrun.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

using namespace cdimage;

namespace {

using Sector = std::array<std::uint8_t, kRawSectorSize>;

// GF(2^8) with x^8+x^4+x^3+x^2+1, multiplied bit by bit: no table shared with the code tested.
std::uint8_t gfMultiply(std::uint8_t a, std::uint8_t b) {
    std::uint8_t product = 0;
    while (b) {
        if (b & 1)
            product ^= a;
        a = std::uint8_t((a << 1) ^ ((a & 0x80) ? 0x1D : 0));
        b >>= 1;
    }
    return product;
}

// The two syndromes of a code word: sum of its bytes, and sum of byte k times alpha^(n-1-k).
// Both are zero for a valid word.
std::pair<std::uint8_t, std::uint8_t> syndromes(const std::vector<std::uint8_t>& word) {
    std::uint8_t plain = 0;
    std::uint8_t weighted = 0;
    for (std::uint8_t byte : word) {
        plain ^= byte;
        weighted = std::uint8_t(gfMultiply(weighted, 2) ^ byte);
    }
    return {plain, weighted};
}

// The P and Q code words of a sector, as ECMA-130 counts them: 1170 16-bit words S(n) from
// byte 12 (the header taken as zero); each word's two bytes belong to separate codes.
std::vector<std::vector<std::uint8_t>> codeWords(Sector sector) {
    std::fill(sector.begin() + 12, sector.begin() + 16, 0);
    const auto byteOf = [&](int word, int half) {
        return sector[12 + 2 * word + half];
    };
    std::vector<std::vector<std::uint8_t>> words;
    for (int half = 0; half < 2; ++half) {
        for (int np = 0; np < 43; ++np) { // P: columns of 24 words and 2 parity words
            std::vector<std::uint8_t> word;
            for (int mp = 0; mp < 26; ++mp)
                word.push_back(byteOf(np + 43 * mp, half));
            words.push_back(word);
        }
        for (int nq = 0; nq < 26; ++nq) { // Q: diagonals of 43 words and 2 parity words
            std::vector<std::uint8_t> word;
            for (int mq = 0; mq < 43; ++mq)
                word.push_back(byteOf((44 * mq + 43 * nq) % 1118, half));
            word.push_back(byteOf(1118 + nq, half));
            word.push_back(byteOf(1144 + nq, half));
            words.push_back(word);
        }
    }
    return words;
}

bool allCodeWordsValid(const Sector& sector) {
    for (const auto& word : codeWords(sector))
        if (syndromes(word) != std::pair<std::uint8_t, std::uint8_t>{0, 0})
            return false;
    return true;
}

QByteArray bytes(const std::uint8_t* data, int size) {
    return QByteArray(reinterpret_cast<const char*>(data), size).toHex(' ');
}

} // namespace

class CdImageTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void edcCheckValueAndKnownSectors();
    void edcOfPiecesEqualsEdcOfTheWhole();
    void eccSatisfiesEveryParityCheck();
    void addressesAreBcdMinutesSecondsFrames();
    void form2SectorChecksFindEachFault();
    void namesMapToDCharacters_data();
    void namesMapToDCharacters();
    void fileListRoundTrip();
    void discFillIsNeverRoundedUpToFull();
    void imageFileGivesItsSectorsAndNamesWhereItEnds();
    void eachMessageIsWrittenInOneCall();
};

void CdImageTest::edcCheckValueAndKnownSectors() {
    const char* check = "123456789";
    QCOMPARE(edc(reinterpret_cast<const std::uint8_t*>(check), 9), 0x6EC2EDC4u);

    Sector form2{};
    writeForm2(form2.data(), 0, 0, nullptr, 0);
    QCOMPARE(bytes(form2.data() + 16, 8), QByteArray("00 00 20 00 00 00 20 00"));
    QCOMPARE(bytes(form2.data() + 2348, 4), QByteArray("3f 13 b0 be"));

    Sector form1{};
    writeForm1(form1.data(), 0, Data, nullptr, 0);
    QCOMPARE(bytes(form1.data(), 16),
             QByteArray("00 ff ff ff ff ff ff ff ff ff ff 00 00 02 00 02"));
    QCOMPARE(bytes(form1.data() + 16, 8), QByteArray("00 00 08 00 00 00 08 00"));
    QCOMPARE(bytes(form1.data() + 2072, 4), QByteArray("0b 88 81 94"));
}

void CdImageTest::edcOfPiecesEqualsEdcOfTheWhole() {
    std::vector<std::uint8_t> data(5000);
    QRandomGenerator generator(7);
    for (auto& byte : data)
        byte = std::uint8_t(generator.generate());
    const std::uint32_t whole = edc(data.data(), data.size());
    for (const std::size_t cut :
         {std::size_t(0), std::size_t(1), std::size_t(7), std::size_t(2333)})
        QCOMPARE(edc(data.data() + cut, data.size() - cut, edc(data.data(), cut)), whole);
}

void CdImageTest::eccSatisfiesEveryParityCheck() {
    Sector sector{};
    writeForm1(sector.data(), 0, Data, nullptr, 0);
    QVERIFY(allCodeWordsValid(sector));
    // Pinned: the P and Q parity of that sector begin and end so.
    QCOMPARE(bytes(sector.data() + 2076, 12), QByteArray("00 00 00 00 00 00 fb 00 00 00 fb 00"));
    QCOMPARE(bytes(sector.data() + 2340, 12), QByteArray("21 00 56 00 94 00 a1 00 00 00 00 00"));

    QRandomGenerator generator(11);
    std::vector<std::uint8_t> data(kForm1DataSize);
    for (auto& byte : data)
        byte = std::uint8_t(generator.generate());
    writeForm1(sector.data(), 123456, Data | EndOfRecord, data.data(), data.size());
    QVERIFY(allCodeWordsValid(sector));
    QCOMPARE(bytes(sector.data() + 12, 4), QByteArray("27 28 06 02")); // the header stays

    sector[1000] ^= 0x40; // one changed byte breaks its P and Q words
    QVERIFY(!allCodeWordsValid(sector));
}

void CdImageTest::addressesAreBcdMinutesSecondsFrames() {
    const auto text = [](std::uint32_t lba) {
        const Msf msf = msfOf(lba);
        return QStringLiteral("%1:%2:%3").arg(msf.minute).arg(msf.second).arg(msf.frame);
    };
    QCOMPARE(text(0), QStringLiteral("0:2:0"));
    QCOMPARE(text(16), QStringLiteral("0:2:16"));
    QCOMPARE(text(4350), QStringLiteral("1:0:0"));
    QCOMPARE(text(kMaxSectors - 1), QStringLiteral("99:59:74"));
    QCOMPARE(toBcd(59), std::uint8_t(0x59));
    QCOMPARE(fromBcd(0x74), std::uint8_t(74));
    for (const std::uint32_t lba : {0u, 75u, 4349u, 359849u, kMaxSectors - 1}) {
        Sector sector{};
        writeForm2(sector.data(), lba, Data, nullptr, 0);
        QCOMPARE(lbaOfHeader(sector.data() + 12), lba);
    }
}

void CdImageTest::form2SectorChecksFindEachFault() {
    Sector sector{};
    const std::uint8_t data[3] = {1, 2, 3};
    writeForm2(sector.data(), 10, Data | EndOfFile, data, 3);
    QCOMPARE(checkForm2(sector.data()), std::string());
    QVERIFY(form2EdcMatches(sector.data()));

    Sector broken = sector;
    broken[5] = 0;
    QCOMPARE(checkForm2(broken.data()), std::string("broken sync pattern"));
    broken = sector;
    broken[15] = 1;
    QCOMPARE(checkForm2(broken.data()), std::string("mode 1, not mode 2"));
    broken = sector;
    broken[22] ^= 1;
    QCOMPARE(checkForm2(broken.data()), std::string("the two copies of the subheader differ"));
    broken = sector;
    broken[18] = broken[22] = Data;
    QCOMPARE(checkForm2(broken.data()), std::string("a Form 1 sector, not Form 2"));
    broken = sector;
    broken[100] ^= 1;
    QVERIFY(!form2EdcMatches(broken.data()));
}

void CdImageTest::namesMapToDCharacters_data() {
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("volume");
    QTest::newRow("blanks") << u"a b.bin"_qs << u"A_B.BIN"_qs << u"A_B_BIN"_qs;
    QTest::newRow("accents count once")
        << u"Données d'été.tar.gz"_qs << u"DONN_ES_D__T__TAR.GZ"_qs << u"DONN_ES_D__T__TAR_GZ"_qs;
    QTest::newRow("no extension") << u"README"_qs << u"README."_qs << u"README"_qs;
    QTest::newRow("extension only") << u".bashrc"_qs << u".BASHRC"_qs << u"_BASHRC"_qs;
    QTest::newRow("long name is cut, extension kept")
        << QString(40, u'n') + u".txt"_qs << QString(27, u'N') + u".TXT"_qs << QString(32, u'N');
    QTest::newRow("long extension") << u"a."_qs + QString(40, u'e') << u"A."_qs + QString(29, u'E')
                                    << u"A_"_qs + QString(30, u'E');
}

void CdImageTest::namesMapToDCharacters() {
    QFETCH(QString, given);
    QFETCH(QString, file);
    QFETCH(QString, volume);
    const std::string utf8 = given.toStdString();
    QCOMPARE(QString::fromStdString(fileIdentifier(utf8)), file);
    QCOMPARE(QString::fromStdString(volumeIdentifier(utf8)), volume);
    QVERIFY(fileIdentifier(utf8).size() <= kFileIdentifierLength);
}

void CdImageTest::fileListRoundTrip() {
    const std::vector<ListedFile> files = {
        {"A_B.BIN", 5000000, std::string(64, 'a'), "a b.bin", 23, 489643200},
        {"EMPTY.", 0, std::string(64, '0'), "empty", 2175, -2208988800}, // 1900
    };
    const std::string text = formatFileList("KESTREL", files);
    const auto compareWith = [&](const std::vector<ListedFile>& read, std::size_t from) {
        for (std::size_t i = from; i < files.size(); ++i) {
            const ListedFile& back = read.at(i - from);
            QCOMPARE(back.identifier, files[i].identifier);
            QCOMPARE(back.length, files[i].length);
            QCOMPARE(back.sha256, files[i].sha256);
            QCOMPARE(back.originalName, files[i].originalName);
            QCOMPARE(back.lba, files[i].lba);
            QCOMPARE(back.modified, files[i].modified);
        }
    };
    const auto parsed = parseFileList(text);
    QVERIFY(parsed.has_value());
    QCOMPARE(parsed->volumeIdentifier, std::string("KESTREL"));
    QCOMPARE(parsed->files.size(), files.size());
    QVERIFY(parsed->damagedLines.empty());
    compareWith(parsed->files, 0);
    // Whoever reads the list on another system learns, in English and in French, that those
    // systems cut the files short, and how to get them whole.
    QVERIFY(text.find("\n# These files are stored in Mode 2 Form 2 sectors") != std::string::npos);
    QVERIFY(text.find("(88% of each file), without an error. Get the files back whole with "
                      "dat2file") != std::string::npos);
    QVERIFY(text.find("\n# Ces fichiers sont rangés") != std::string::npos);

    // One damaged byte costs its own line, never the others: a length digit, the heading, a
    // trailing zero byte.
    std::string digit = text;
    digit[digit.find(" 5000000 ") + 3] = 'x';
    const auto withDigit = parseFileList(digit);
    QVERIFY(withDigit.has_value());
    QCOMPARE(withDigit->damagedLines, std::vector<std::size_t>{5}); // after the notes
    compareWith(withDigit->files, 1);
    std::string heading = text;
    heading[3] = 'W';
    const auto withHeading = parseFileList(heading);
    QVERIFY(withHeading.has_value());
    QCOMPARE(withHeading->damagedLines, std::vector<std::size_t>{1});
    compareWith(withHeading->files, 0);
    const auto withNul = parseFileList(text + '\0');
    QVERIFY(withNul.has_value());
    QCOMPARE(withNul->damagedLines, std::vector<std::size_t>{7});
    QCOMPARE(withNul->files.size(), files.size());

    // A list of old, without places.
    const auto old = parseFileList(
        "# Velmora file list: SHA-256, length in bytes, name on the CD, original name\n" +
        std::string(64, 'b') + " 12 OLD.DAT old.dat\n");
    QVERIFY(old.has_value());
    QCOMPARE(old->files.size(), std::size_t(1));
    QCOMPARE(old->files[0].originalName, std::string("old.dat"));
    QVERIFY(!old->files[0].lba.has_value());

    QVERIFY(!parseFileList("not a list").has_value());
    QVERIFY(!fitsInFileList("two\nlines"));
    QVERIFY(fitsInFileList("with blank é.dat"));
}

void CdImageTest::imageFileGivesItsSectorsAndNamesWhereItEnds() {
    using namespace velmora::test;
    QTemporaryDir folder;
    // 600 sectors of 2336 bytes (as MODE2/2336 stores them) after a 1000-byte offset, and half
    // a sector more.
    const QByteArray data = randomBytes(1000 + 600 * 2336 + 1168, 7);
    const QString path = writeFile(folder.path(), u"image.bin"_qs, data);
    ImageFile image(ImageTrack{path.toStdString(), 1000, 2336, 0, std::nullopt});
    QCOMPARE(image.sectorCount(), 600u);
    for (const std::uint32_t lba : {0u, 255u, 256u, 599u, 3u}) { // across runs, and back
        const std::uint8_t* sector = image.sector(lba);
        QVERIFY(sector);
        QVERIFY(QByteArray(reinterpret_cast<const char*>(sector), 2336) ==
                data.mid(1000 + lba * 2336, 2336));
    }
    QVERIFY(!image.sector(600));
    QCOMPARE(QString::fromStdString(image.whyUnreadable(600)),
             u"\"%1\" ends at sector 600 (%2 bytes, the last sector cut short)"_qs.arg(path).arg(
                 data.size()));

    // Cut short while open: what can no longer be read is lost, and said so.
    QVERIFY(QFile::resize(path, 1000 + 300 * 2336));
    QVERIFY(image.sector(10));
    QVERIFY(!image.sector(300));
    QVERIFY(!image.sector(420));
    QVERIFY(QString::fromStdString(image.whyUnreadable(400))
                .contains(u"ends at sector 300: it was cut short while being read"_qs));

    QVERIFY_THROWS_EXCEPTION(Error, ImageFile(ImageTrack{folder.filePath(u"none"_qs).toStdString(),
                                                         0, 2352, 16, std::nullopt}));
}

// A full 80-minute disc is 360,000 frames, the 150 before the track included.
void CdImageTest::discFillIsNeverRoundedUpToFull() {
    QCOMPARE(discFill(150), std::string("0 min 04 s of an 80-minute disc (0.0%)"));
    QCOMPARE(discFill(359849), std::string("79 min 59 s of an 80-minute disc (99.9%)"));
    QCOMPARE(discFill(359850), std::string("80 min 00 s of an 80-minute disc (100.0%)"));
    QCOMPARE(discFill(359851), std::string("80 min 00 s, over an 80-minute disc by 1 sector"));
    QCOMPARE(discFill(359860), std::string("80 min 00 s, over an 80-minute disc by 10 sectors"));
}

// A console that shows each write as it comes (the Windows console, one box per byte of a
// character written alone) gets a message whole: one write, however unbuffered the stream.
void CdImageTest::eachMessageIsWrittenInOneCall() {
#ifdef __GLIBC__
    std::vector<std::string> writes;
    cookie_io_functions_t functions{};
    functions.write = [](void* cookie, const char* data, size_t size) -> ssize_t {
        static_cast<std::vector<std::string>*>(cookie)->emplace_back(data, size);
        return ssize_t(size);
    };
    std::FILE* stream = fopencookie(&writes, "w", functions);
    QVERIFY(stream);
    std::setvbuf(stream, nullptr, _IONBF, 0);
    cdimage::say(stream, "dat2file: wrote %s: %d bytes\n", "café crème.dat", 7000);
    cdimage::say(stream, "%s", "dat2file:   0-2323: sector 17 unreadable\n");
    std::fclose(stream);
    QCOMPARE(writes.size(), std::size_t(2));
    QCOMPARE(writes[0], std::string("dat2file: wrote café crème.dat: 7000 bytes\n"));
    QCOMPARE(writes[1], std::string("dat2file:   0-2323: sector 17 unreadable\n"));
#else
    QSKIP("needs glibc's streams of one's own");
#endif
}

QTEST_GUILESS_MAIN(CdImageTest)
#include "tst_cdimage.moc"
