// SPDX-License-Identifier: GPL-3.0-or-later
#include "console/announcement.h"

#include "console/texts.h"
#include "console/tooljob.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <algorithm>

namespace velmora::console {

Announcement announcementOf(const ToolJob& job) {
    Announcement announcement{job.title(), job.status(), !job.succeeded()};
    if (job.state() == ToolJob::State::Warned) // what the user should know, first
        announcement.body =
            job.firstWarning() + (job.summary().isEmpty() ? QString() : u'\n' + job.summary());
    else if (job.succeeded() && !job.summary().isEmpty())
        announcement.body = job.summary(); // the tool's own closing line says what it wrote
    else if (job.state() == ToolJob::State::Failed && !job.summary().isEmpty())
        announcement.body += u'\n' + job.summary(); // what the run came to, not its last warning
    return announcement;
}

Announcement announcementOf(const QList<const ToolJob*>& jobs) {
    if (jobs.size() == 1)
        return announcementOf(*jobs.first());
    const auto allNamed = [&](const QString& name) {
        return std::all_of(jobs.begin(), jobs.end(),
                           [&](const ToolJob* job) { return job->toolName() == name; });
    };
    const QString& kind = allNamed(QStringLiteral("dat2file"))       ? texts::kBatchExtractions
                          : allNamed(QStringLiteral("velmora_tolk")) ? texts::kBatchBuilds
                                                                     : texts::kBatchTools;
    const auto count = [&](ToolJob::State state) {
        return std::count_if(jobs.begin(), jobs.end(),
                             [&](const ToolJob* job) { return job->state() == state; });
    };
    Announcement announcement;
    announcement.summary = kind.arg(jobs.size()) + QStringLiteral(": ") +
                           texts::kBatchEnds.arg(count(ToolJob::State::Succeeded))
                               .arg(count(ToolJob::State::Repaired))
                               .arg(count(ToolJob::State::Failed))
                               .arg(count(ToolJob::State::Stopped))
                               .arg(count(ToolJob::State::Warned));
    announcement.failed = count(ToolJob::State::Failed) > 0;
    QStringList told;
    qsizetype notable = 0;
    for (const ToolJob* job : jobs) {
        if (job->state() == ToolJob::State::Succeeded || job->state() == ToolJob::State::Stopped)
            continue;
        if (++notable <= 3)
            told << job->title() + QStringLiteral(": ") + announcementOf(*job).body;
    }
    if (notable > 3)
        told << texts::kBatchMore.arg(notable - 3);
    announcement.body = told.join(u'\n');
    return announcement;
}

DesktopNotifier::DesktopNotifier(QObject* parent)
    : QObject(parent) {
    QDBusConnection::sessionBus().connect(QStringLiteral("org.freedesktop.Notifications"),
                                          QStringLiteral("/org/freedesktop/Notifications"),
                                          QStringLiteral("org.freedesktop.Notifications"),
                                          QStringLiteral("ActionInvoked"), this,
                                          SLOT(actionInvoked(uint, QString)));
}

void DesktopNotifier::notify(const Announcement& announcement) {
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
    // "default" is a click on the notification itself; "show" the button, where there are any.
    const QStringList actions = {QStringLiteral("default"), texts::kShow, QStringLiteral("show"),
                                 texts::kShow};
    notify << QStringLiteral("Velmora GUI") << uint(0) << QStringLiteral("velmora-gui")
           << announcement.summary << announcement.body << actions << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(notify), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                const QDBusPendingReply<uint> reply = *call;
                if (reply.isValid())
                    m_sent.append(reply.value());
                call->deleteLater();
            });
}

void DesktopNotifier::actionInvoked(uint id, const QString& action) {
    if (m_sent.contains(id) && (action == u"default" || action == u"show"))
        Q_EMIT showAsked();
}

} // namespace velmora::console
