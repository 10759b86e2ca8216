// The two CD image tools on a file of 700 MB: velmora_tolk building its image, against
// genisoimage writing a plain Mode 1 image of the same file; dat2file extracting the file from
// that image, against cp copying it; and the EDC's speed on one core. All in the same run.

#include "benchclock.h"
#include "cdimage/edc.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <vector>

namespace {

bool runQuietly(const QString& program, const QStringList& arguments, const QString& folder) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QString genisoimage = QStandardPaths::findExecutable(QStringLiteral("genisoimage"));
    const QString tools = QCoreApplication::applicationDirPath() + QStringLiteral("/../");
    if (genisoimage.isEmpty()) {
        std::printf("genisoimage is not installed: nothing to compare with\n");
        return 1;
    }

    QTemporaryDir folder;
    const QString source = folder.filePath(QStringLiteral("recording.bin"));
    QByteArray block(1 << 20, Qt::Uninitialized);
    QRandomGenerator generator(1);
    generator.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    QFile file(source);
    file.open(QIODevice::WriteOnly);
    for (int mb = 0; mb < 700; ++mb) {
        block[mb] = char(mb); // no two megabytes alike
        file.write(block);
    }
    file.close();
    const QStringList files = {source};

    const QString output = folder.filePath(QStringLiteral("out"));
    QDir().mkpath(output);
    bool ok = true;
    const auto clean = [&] {
        for (const QString& name : QDir(output).entryList(QDir::Files))
            QFile::remove(QDir(output).filePath(name));
    };
    const double plain = velmora::bench::bestOf(3, [&] {
        clean();
        ok &= runQuietly(
            genisoimage,
            QStringList{QStringLiteral("-quiet"), QStringLiteral("-o"), QStringLiteral("x.iso")} +
                files,
            output);
    });
    const double form2 = velmora::bench::bestOf(3, [&] {
        clean();
        ok &= runQuietly(tools + QStringLiteral("velmora_tolk"),
                         QStringList{QStringLiteral("-v"), QStringLiteral("Kestrel"),
                                     QStringLiteral("-o"), QStringLiteral("Kestrel"),
                                     QStringLiteral("-m")} +
                             files,
                         output);
    });
    if (!ok)
        return 1;
    velmora::bench::report("velmora_tolk, a file of 700 MB", form2, "genisoimage", plain, 1.3);

    const QString copy = folder.filePath(QStringLiteral("copy.bin"));
    const double copied = velmora::bench::bestOf(3, [&] {
        QFile::remove(copy);
        ok &= runQuietly(QStringLiteral("cp"), {source, copy}, output);
    });
    const double extracted = velmora::bench::bestOf(3, [&] {
        QFile::remove(copy);
        ok &= runQuietly(tools + QStringLiteral("dat2file"),
                         {QStringLiteral("--image"), QStringLiteral("Kestrel.cue"),
                          QStringLiteral("/RECORDING.BIN;1"), copy},
                         output);
    });
    if (!ok)
        return 1;
    velmora::bench::report("dat2file --image, a file of 700 MB", extracted, "cp", copied, 1.5);

    std::vector<std::uint8_t> data(64 << 20, 0x5A);
    std::uint32_t sink = 0;
    const double edcTime =
        velmora::bench::bestOf(5, [&] { sink ^= cdimage::edc(data.data(), data.size()); });
    std::printf("%-48s %10.0f MB/s (bound 1000 MB/s: %s)%s\n", "EDC on one core",
                data.size() / 1e6 / (edcTime / 1e3),
                data.size() / 1e6 / (edcTime / 1e3) >= 1000 ? "within" : "UNDER",
                sink == 1 ? " " : "");
    return 0;
}
