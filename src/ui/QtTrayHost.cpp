#include "ui/QtTrayHost.h"

#include "ui/CSystemTray.h"

#include <QGuiApplication>
#include <QIcon>
#include <QSystemTrayIcon>

#ifdef KESTRELLE_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#endif

QtTrayHost::QtTrayHost(std::function<void(Activation)> onActivated,
                       std::function<void()> onTrayChanged, std::function<void()> onMessageClicked)
    : m_icon(new QSystemTrayIcon(this)), m_onActivated(std::move(onActivated)),
      m_onTrayChanged(std::move(onTrayChanged)), m_onMessageClicked(std::move(onMessageClicked)),
      m_activationOnly(StatusNotifierHostRegistered())
{
    connect(m_icon, &QSystemTrayIcon::messageClicked, this, [this] {
        if (m_onMessageClicked)
            m_onMessageClicked();
    });
    // The X11 platform announces a tray host that appears or goes away on its
    // native interface, an object Qt's public headers know only by name (a
    // QObject, its only base); Qt docks the icon by the same signal.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (auto* native = reinterpret_cast<QObject*>(qGuiApp->platformNativeInterface()))
            connect(native, SIGNAL(systemTrayWindowChanged(QScreen*)), this,
                    SLOT(OnTrayWindowChanged()));
    }
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                Activation activation = Activation::Unknown;
                switch (reason) {
                case QSystemTrayIcon::Trigger:
                    activation = Activation::Trigger;
                    break;
                case QSystemTrayIcon::DoubleClick:
                    activation = Activation::DoubleClick;
                    break;
                case QSystemTrayIcon::Context:
                    activation = Activation::Context;
                    break;
                case QSystemTrayIcon::MiddleClick:
                    activation = Activation::Middle;
                    break;
                default:
                    break;
                }
                if (m_onActivated)
                    m_onActivated(activation);
            });
}

QtTrayHost::~QtTrayHost() = default;

void QtTrayHost::OnTrayWindowChanged()
{
    if (m_onTrayChanged)
        m_onTrayChanged();
}

bool QtTrayHost::StatusNotifierHostRegistered()
{
    // Off X11 Qt has no tray but the StatusNotifierItem one.
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return true;
#ifdef KESTRELLE_HAVE_DBUS
    // Without an address Qt would try to start a bus of its own.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(watcher))
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcher, QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusReply<QDBusVariant> reply = bus.call(get, QDBus::Block, 2000);
    return reply.isValid() && reply.value().variant().toBool();
#else
    return false;
#endif
}

bool QtTrayHost::Available() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool QtTrayHost::Add(int iconId, const QString& tip)
{
    m_icon->setIcon(QIcon(CSystemTray::IconPath(iconId)));
    m_icon->setToolTip(tip);
    // Shown even without a tray host: Qt docks it when one appears.
    m_icon->show();
    return true;
}

void QtTrayHost::SetIcon(int iconId)
{
    m_icon->setIcon(QIcon(CSystemTray::IconPath(iconId)));
}

void QtTrayHost::SetTip(const QString& tip)
{
    m_icon->setToolTip(tip);
}

void QtTrayHost::ShowMessage(const QString& title, const QString& text, int msecs)
{
    m_icon->showMessage(title, text, QSystemTrayIcon::Information, msecs);
}

void QtTrayHost::Remove()
{
    m_icon->hide();
}

void QtTrayHost::SetMenu(QMenu* menu)
{
    m_icon->setContextMenu(menu);
}
