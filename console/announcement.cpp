// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/announcement.h"

#include "console/tooljob.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

namespace velmora::console {

Announcement announcementOf(const ToolJob& job) {
    Announcement announcement{job.title(), job.status(), !job.succeeded()};
    if (job.succeeded() && !job.summary().isEmpty())
        announcement.body = job.summary(); // the tool's own closing line says what it wrote
    else if (job.state() == ToolJob::State::Failed && !job.summary().isEmpty())
        announcement.body += u'\n' + job.summary(); // what the run came to, not its last warning
    return announcement;
}

void notifyDesktop(const Announcement& announcement) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"),
                 QVariant::fromValue(uchar(announcement.failed ? 2 : 1)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("velmora-gui"));
    notify << QStringLiteral("Velmora GUI") << uint(0) << QStringLiteral("velmora-gui")
           << announcement.summary << announcement.body << QStringList() << hints << int(-1);
    bus.call(notify, QDBus::NoBlock);
}

} // namespace velmora::console
