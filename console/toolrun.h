// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The rules of the console window, on text alone: the progress lines of the tools, the window's
// title and the command line it shows.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace velmora::console {

struct Progress {
    int percent = 0;
    QString detail; // what the tool is at, such as "file 2 of 7: a.dat"; may be empty
};

// What a tool's progress line, `TOOL: progress PERCENT% DETAIL`, says; nothing for any other
// line.
std::optional<Progress> progressOf(QStringView line);

// "velmora_tolk — Kestrel": the tool's file name and what it works on (the image after -o, or
// else the last argument).
QString windowTitle(const QStringList& command);

// What a tool that ended offers next, from its command line and folder: the image it built or
// the image or disc it read, for dat2file --check to check; the folder its result lies in.
struct FollowUp {
    QStringList check;  // dat2file --check TARGET; empty where there is nothing to check
    QString folder;     // empty where there is none
    bool built = false; // an image was built (else read)
};
std::optional<FollowUp> followUpOf(const QStringList& command, const QString& folder);

// How close a disc is to losing data, as dat2file says it ("the worst code word lost 3 of the
// 32 it can lose", "… of the 32 sectors it can lose"): the losses and the most it can lose.
struct Margin {
    int lost = 0;
    int canLose = 0;
    QString said; // the tool's own words for it
};
std::optional<Margin> marginOf(QStringView line);

// The program and its arguments as a command line, each between double quotes where it is
// empty or holds a blank.
QString commandLineOf(const QStringList& command);

// `text` with a zero-width space where a line may break inside a long run without a blank
// (after each '/', and every 12 characters), for a label that wraps only between words.
QString breakableAnywhere(const QString& text);

// The name of a signal that ends a process.
QString signalName(int signal);

} // namespace velmora::console
