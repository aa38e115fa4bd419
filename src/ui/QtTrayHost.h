#pragma once

#include "ui/TrayHost.h"

#include <QObject>

#include <functional>

class QSystemTrayIcon;

// The desktop's notification area through QSystemTrayIcon. Qt docks the icon
// with an XEmbed tray or exports it as a StatusNotifierItem, and puts it
// back when the tray host restarts or first appears.
class QtTrayHost : public QObject, public TrayHost
{
    Q_OBJECT

public:
    explicit QtTrayHost(std::function<void(Activation)> onActivated);
    ~QtTrayHost() override;

    bool Available() const override;
    bool ActivationOnly() const override { return m_activationOnly; }
    bool Add(int iconId, const QString& tip) override;
    void SetIcon(int iconId) override;
    void SetTip(const QString& tip) override;
    void ShowMessage(const QString& title, const QString& text, int msecs) override;
    void Remove() override;
    void SetMenu(QMenu* menu) override;

    // Whether a StatusNotifierItem host is registered on the session bus:
    // then Qt shows the icon through it, and the host reports activations
    // only. False without D-Bus.
    static bool StatusNotifierHostRegistered();

private:
    QSystemTrayIcon* m_icon;
    std::function<void(Activation)> m_onActivated;
    bool m_activationOnly;
};
