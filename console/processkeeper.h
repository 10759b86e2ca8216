// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every process a tool starts, found again however it left: each tool runs with a mark in its
// environment (VELMORA_CONSOLE_TOOL=TOKEN.N), which whatever it starts inherits, in its process
// group or in a session of its own. Stop and close end every process that carries the tool's
// mark; a guard process ends the marked processes of a console that was killed outright. On
// Linux the console is the child subreaper of its tools, so that what they leave behind is its
// own to end and to reap.

#include <QByteArray>
#include <QList>
#include <QSet>

#include <sys/types.h>

namespace velmora::console {

inline constexpr char kToolMarkName[] = "VELMORA_CONSOLE_TOOL";

// The token of this console's marks, unlike any other console's; the same for each call.
QByteArray consoleToken();

// Where marked processes are looked for: among this process's descendants (which, this being
// the subreaper of its tools, includes whatever they left behind; a few processes, not every
// process of the user), or among all of this user's (the guard's, whose console is gone).
enum class Among { Descendants, AllOfThisUser };

// The live processes, this one left out, whose environment holds VELMORA_CONSOLE_TOOL with a
// value equal to `mark`, or starting with it when `mark` ends in '.'.
QList<pid_t> processesMarked(const QByteArray& mark, Among among = Among::Descendants);

// This process's descendants, from the kernel's list of each process's children; where the
// kernel keeps no such list, or this process adopts no orphans (what escapes would be missed),
// every process of this user.
QList<pid_t> descendants();

// Ends every descendant of this process but those in `spare` (SIGTERM, SIGKILL after a grace
// of `graceMilliseconds`): what its tools left, however it hid (a clean environment, a session
// of its own, a double fork, a daemon), is adopted by this process and ends with it. Does
// nothing where this process adopts no orphans or the kernel keeps no list of children.
void endDescendants(const QSet<pid_t>& spare, int graceMilliseconds = 2000);

// This process's parent as the system at large numbers it (not as a PID namespace this process
// may lie in does); 0 when it cannot be told.
pid_t parentAtLarge();

// Whether `process` has ended: it is gone, or ends, or waits to be reaped.
bool processEnded(pid_t process);

// Sends `signal` to each of `processes`.
void signalEach(const QList<pid_t>& processes, int signal);

// Makes this process the one that adopts the orphans of its descendants (Linux).
void becomeSubreaper();

// Reaps the adopted children of this process that have ended, leaving alone those in `own`
// (the children it started, which their QProcess reaps).
void reapAdopted(const QSet<pid_t>& own);

// Readies the guard's process, in it between fork and exec (it calls only what a signal handler
// may): the console's end, by a signal or by its death, is held for the guard from the start,
// so that a console killed while the guard still loads does not end the guard before it looks.
// A guard whose console is gone already ends at once.
void prepareGuard(pid_t console);

// The guard of a console, readied by prepareGuard: waits until the console `console` ends, then
// ends every process marked with `token` (SIGTERM, SIGKILL after a grace) and returns. Run in a
// process of its own, started by the console (`velmora_console --guard PID TOKEN`).
int guardTools(pid_t console, const QByteArray& token);

} // namespace velmora::console
