#include "ui/SleepWatcher.h"

#ifdef KESTRELLE_HAVE_DBUS
#include <QDBusConnection>
#endif

SleepWatcher::SleepWatcher(QObject* parent) : QObject(parent)
{
#ifdef KESTRELLE_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::systemBus();
    if (bus.isConnected())
        bus.connect(QStringLiteral("org.freedesktop.login1"),
                    QStringLiteral("/org/freedesktop/login1"),
                    QStringLiteral("org.freedesktop.login1.Manager"),
                    QStringLiteral("PrepareForSleep"), this, SLOT(OnPrepareForSleep(bool)));
#endif
}

void SleepWatcher::OnPrepareForSleep(bool sleeping)
{
    if (sleeping)
        Q_EMIT Suspending();
    else
        Q_EMIT Resumed();
}
