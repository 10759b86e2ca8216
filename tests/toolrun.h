// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "files.h"

// Running the CD image tools as programs, and the files their tests feed them.

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace velmora::test {

// The tools under test: this build's own, or, when VELMORA_TEST_WINDOWS_TOOLS names the folder
// of the Windows build, its .exe files, run through wine.
QString tolkProgram();
QString dat2fileProgram();
bool testingWindowsTools();
// A folder as the tools under test name it in messages: as it is, or as wine shows a Linux
// folder to a Windows program (Z:\tmp\x for /tmp/x).
QString shownPath(const QString& path);
// The system's words for a full disk and for a disk that cannot be written.
QString diskFullText();
QString readOnlyText();
QString noSuchFolderText();
// Starts a tool as `run` does: a Windows one through wine.
void startTool(QProcess& process, const QString& program, const QStringList& arguments);

struct Run {
    int status = -1; // -1: did not end normally
    QString output;
    QString errors;
};

// Runs a tool to its end; one still running after `milliseconds` is killed (status -1).
Run run(const QString& program, const QStringList& arguments, const QString& folder,
        int milliseconds = 300000);

struct Stop {
    bool sawProgress = false; // a progress line came before the signal was sent
    int signal = 0;           // that ended the tool; 0 when it ended otherwise
    int status = -1;          // the exit status when it ended otherwise
    QString errors;
};
// Runs a tool and sends it `signal` once it has written its first progress line past 0%. A
// Windows tool knows no signals: it is sent SIGINT, which wine hands it as Ctrl+C.
Stop stopMidway(const QString& program, const QStringList& arguments, const QString& folder,
                int signal);
// Whether the tool ended as one asked to stop by `signal` does: by the signal itself, or, on
// Windows, with the status of a program ended by Ctrl+C (0xC000013A, of which wine keeps the
// low byte).
bool endedByStop(const Stop& stop, int signal);

// `size` pseudo-random bytes, the same for the same seed.
QByteArray randomBytes(qint64 size, quint32 seed);
// Writes a file under `folder`; returns its path.
QString writeFile(const QString& folder, const QString& name, const QByteArray& data);
QByteArray readFile(const QString& path);
// Unpacks `packed` (xz) from the test data into `folder` as `name`.
bool unpack(const QString& packed, const QString& folder, const QString& name);
// The names and bytes of the files under `folder`, hidden ones included, by their paths below it.
QMap<QString, QByteArray> filesUnder(const QString& folder);

// Where a file lies in an image, as libiso9660 sees it: first sector and sector count.
std::pair<qint64, qint64> placeOf(const QString& cue, const QString& identifier,
                                  const QString& scratch);
// A RIFF CDXA file holding a file's raw sectors from an image, as Windows presents a Form 2
// file of a CD.
QByteArray riffOf(const QString& bin, std::pair<qint64, qint64> place);
// Lays out a folder as Windows shows the image's CD: the file list in its root, and the given
// Form 2 files as RIFF CDXA files under FILES/.
void layOutCd(const QString& cue, const QString& cdFolder, const QStringList& identifiers);

// A folder on a small file system of its own (a tmpfs of `bytes`), for a disk that fills up or
// one that cannot be written at all.
// Mounting needs root: where it cannot be done, `why` says so and `path` is empty.
class SmallDisk {
public:
    explicit SmallDisk(qint64 bytes, bool readOnly = false);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    QString path;
    QString why;
};

} // namespace velmora::test
