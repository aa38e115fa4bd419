#pragma once

#include <QString>

class QMenu;

// What the tray icon needs from the desktop's notification area. The program
// uses QtTrayHost; tests put a recording host in its place, since the
// offscreen platform has no tray to look at.
class TrayHost
{
public:
    // The mouse actions a tray host reports.
    enum class Activation
    {
        Trigger,     // single click, or a StatusNotifierItem host's activation
        DoubleClick, // only XEmbed hosts (trayer, stalonetray, xfce4-panel's tray) send it
        Context,     // right button: the host opens the menu itself
        Middle,
        Unknown
    };

    virtual ~TrayHost() = default;

    // A tray host is running now.
    virtual bool Available() const = 0;
    // True when activations come from a StatusNotifierItem host, which never
    // reports a double click.
    virtual bool ActivationOnly() const = 0;

    // Puts the icon into the tray (or keeps it ready for a host that appears
    // later); false when the icon could not be added.
    virtual bool Add(int iconId, const QString& tip) = 0;
    virtual void SetIcon(int iconId) = 0;
    virtual void SetTip(const QString& tip) = 0;
    virtual void ShowMessage(const QString& title, const QString& text, int msecs) = 0;
    virtual void Remove() = 0;
    // The menu the host opens on a right click; not owned.
    virtual void SetMenu(QMenu* menu) = 0;
};
