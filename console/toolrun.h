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

// The program and its arguments as a command line, each between double quotes where it is
// empty or holds a blank.
QString commandLineOf(const QStringList& command);

// `text` with a zero-width space where a line may break inside a long run without a blank
// (after each '/', and every 12 characters), for a label that wraps only between words.
QString breakableAnywhere(const QString& text);

// The name of a signal that ends a process.
QString signalName(int signal);

} // namespace velmora::console
