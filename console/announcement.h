// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the console tells a user who is in another window when a tool ends: what ended, and
// how, in a desktop notification (the freedesktop notification service, which screen readers
// read out as well).

#include <QList>
#include <QObject>
#include <QString>

namespace velmora::console {

class ToolJob;

struct Announcement {
    QString summary; // what ended: "velmora_tolk — Kestrel"
    QString body;    // how: the tool's closing line, or why it failed
    bool failed = false;
};

Announcement announcementOf(const ToolJob& job);
// Of tools that ended together: one tool's own, else how many ended how ("5 extractions",
// "4 done, 0 repaired, 1 failed, 0 stopped"), then each that failed or was repaired with its
// closing line, the first three of them.
Announcement announcementOf(const QList<const ToolJob*>& jobs);

// Sends announcements to the desktop's notification service over the session bus (nothing
// where there is none), each with a "Show" action where the service offers actions: a click
// on it is told by showAsked().
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject* parent = nullptr);
    void notify(const Announcement& announcement);

Q_SIGNALS:
    void showAsked();

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);

private:
    QList<uint> m_sent; // the ids of ours the service gave back
};

} // namespace velmora::console
