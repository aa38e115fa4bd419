#pragma once

#include "ui/TrayHost.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QMenu;

// The program's one tray icon: its picture, tooltip, balloons and menu. The
// check pass and the flash thread call it from their own threads while the
// user-interface thread calls it too; every call is carried out on the
// user-interface thread, in the order the calls were made, so a late icon
// change from one thread never overtakes an earlier one from another.
class CSystemTray : public QObject
{
    Q_OBJECT

public:
    // Pictures.
    static constexpr int kIconNormal = 128;
    static constexpr int kIconDisabled = 171;
    static constexpr int kIconAlert = 178;
    // The icon's identifier, also the menu's.
    static constexpr int kTrayId = 163;
    // Commands of the menu's entries.
    static constexpr int kCmdAbout = 57664;
    static constexpr int kCmdRestore = 32772;
    static constexpr int kCmdEnabled = 32773;
    static constexpr int kCmdHelp = 32775;
    static constexpr int kCmdUpgrade = 32776;
    static constexpr int kCmdExit = 57665;
    // Position of the "Enabled" entry.
    static constexpr int kEnabledPosition = 3;
    // What the notification area's record holds, terminator excluded.
    static constexpr std::size_t kMaxTipBytes = 127;
    static constexpr std::size_t kMaxBalloonTextBytes = 255;
    static constexpr std::size_t kMaxBalloonTitleBytes = 63;

    static constexpr const char* kTipLoading = "Kestrelle is loading..";
    static constexpr const char* kTipRunning = "Kestrelle";

    // Constructed on the user-interface thread. Without a host, the desktop's
    // notification area through QSystemTrayIcon.
    explicit CSystemTray(std::unique_ptr<TrayHost> host = {}, QObject* parent = nullptr);
    ~CSystemTray() override;

    // Adds the icon; makes it usable. Returns whether it was added.
    bool Create(const std::string& tip, int iconId, int trayId = kTrayId);
    // The calls below may come from any thread and return at once; they do
    // nothing (and answer false) while the icon is not usable.
    bool SetIconById(int iconId);
    // The picture of the current monitoring state (128 on, 171 off), chosen
    // when the call is carried out, so a flash that ends just after the
    // Enabled command still ends on the right picture.
    bool ShowStateIcon();
    bool SetTipText(const std::string& tip);
    // The tip of the program's state, shown whenever no alert has the tip:
    // kTipRunning, or what keeps monitoring from reaching the sites
    // (offline). SetStateTip keeps it and shows it; ShowStateTip shows the
    // one kept, chosen when the call is carried out, like ShowStateIcon.
    bool SetStateTip(const std::string& tip);
    bool ShowStateTip();
    // Handed over even while the icon is not usable (a host may appear);
    // icon kind 0 means information, the only kind the tray shows here.
    void ShowBalloonTip(const std::string& text, const std::string& title, int timeoutMs,
                        int iconKind = 0);
    // The same, and a click on this balloon runs `onClick` on the
    // user-interface thread; a later balloon takes its place, click and all.
    void ShowClickableBalloon(const std::string& text, const std::string& title, int timeoutMs,
                              std::function<void()> onClick);
    // The user clicked the balloon shown last. User-interface thread only.
    void OnBalloonClicked();
    // User-interface thread only.
    void RemoveIcon();
    void SetDefaultMenuItem(int position);
    void OnTrayNotify(TrayHost::Activation activation);
    // A tray host appeared or went away.
    void OnTrayChanged() { Q_EMIT TrayChanged(); }

    bool Enabled() const { return m_bEnabled.load(); }
    bool MonitoringOn() const { return m_bMonitoringOn.load(); }
    // User-interface thread only: also updates the "Enabled" entry.
    void SetMonitoringOn(bool on);
    // A tray host runs now; without one the main window must never be hidden.
    bool TrayAvailable() const;

    QMenu* Menu() const { return m_menu.get(); }
    // The resource behind a picture number.
    static QString IconPath(int iconId);

    // The text as the notification area's record keeps it: at most
    // `maxBytes` bytes, never the start of a character without its end.
    static QString Cut(const std::string& text, std::size_t maxBytes);

Q_SIGNALS:
    // A menu entry was chosen or the icon double-clicked; the main window
    // carries the command out.
    void Command(int commandId);
    void TrayChanged();

private:
    // Carries a call out on the user-interface thread, after the calls
    // queued before it.
    void Post(std::function<void()> op);
    void RefreshEnabledEntry();
    void AddEntry(const char* objectName, const char* text, int commandId);

    std::unique_ptr<TrayHost> m_host;
    std::unique_ptr<QMenu> m_menu;
    std::function<void()> m_balloonClick; // of the balloon shown last; UI thread
    int m_trayId = kTrayId;
    int m_defaultPosition = 0;
    std::atomic<bool> m_bEnabled{false};
    std::atomic<bool> m_bMonitoringOn{true};
    QString m_stateTip = QString::fromLatin1(kTipRunning); // user-interface thread
};
