// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A group of processes the kernel keeps for each tool, where the system offers one (Linux, with
// PID namespaces; a user's own through a user namespace): the console starts the tool through
// this program (`velmora_console --group CONSOLE -- TOOL ARGUMENTS...`), which makes a PID
// namespace and runs the tool in it, under a keeper of its own as the namespace's first process,
// and ends as the tool does, by the same status or signal. The keeper reaps what is left in the
// namespace, lives until the last of it has ended, hands the signals of Stop on to every process
// there, and ends when the console does. When the keeper ends, the kernel ends every process of
// the namespace, and no process there can leave it: not by a session of its own, a clean
// environment, a double fork, a mark overwritten, a daemon, nor a successor forked without end.
// Where the namespace cannot be made, the tool simply runs in its stead: its mark and the
// console's adopting of orphans are then all that finds its processes.

#include <QStringList>

#include <sys/types.h>

namespace velmora::console {

// Tools are started in groups of their own, `keeper` (this program) keeping each; an empty name
// starts them without.
void useToolGroups(const QString& keeper);

// What to start for `command` (a program and its arguments, run in `folder`): the keeper, the
// command after it, where tools are started in groups and the program is there to run; else the
// command itself (a program that is not there then fails to start as such).
QStringList commandInGroup(const QStringList& command, const QString& folder);

// The work of `velmora_console --group CONSOLE -- TOOL...`, `tool` the null-ended arguments
// after "--": see above. Never returns.
[[noreturn]] void runInGroup(pid_t console, char** tool);

} // namespace velmora::console
