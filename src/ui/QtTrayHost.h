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
    // `onTrayChanged` is told when a tray host appears or goes away,
    // `onMessageClicked` when the user clicks a balloon.
    QtTrayHost(std::function<void(Activation)> onActivated, std::function<void()> onTrayChanged,
               std::function<void()> onMessageClicked = {});
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

private Q_SLOTS:
    void OnTrayWindowChanged();

private:
    QSystemTrayIcon* m_icon;
    std::function<void(Activation)> m_onActivated;
    std::function<void()> m_onTrayChanged;
    std::function<void()> m_onMessageClicked;
    bool m_activationOnly;
};
