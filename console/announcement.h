// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the console tells a user who is in another window when a tool ends: what ended, and
// how, in a desktop notification (the freedesktop notification service, which screen readers
// read out as well).

#include <QString>

namespace velmora::console {

class ToolJob;

struct Announcement {
    QString summary; // what ended: "velmora_tolk — Kestrel"
    QString body;    // how: the tool's closing line, or why it failed
    bool failed = false;
};

Announcement announcementOf(const ToolJob& job);

// Sends `announcement` to the desktop's notification service over the session bus; nothing
// where there is none.
void notifyDesktop(const Announcement& announcement);

} // namespace velmora::console
