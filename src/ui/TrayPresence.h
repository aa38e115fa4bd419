#pragma once

#include <QByteArray>
#include <QObject>

#include <atomic>

class CSystemTray;
class QWidget;

// Whether the main window is put away in the tray or shown: the one owner
// of that state. It hides the window where a tray can bring it back, and
// minimises it where none can; it stores the state as bMinimized, applies
// the stored state at start and counts the hide balloon.
class TrayPresence : public QObject
{
    Q_OBJECT

public:
    // The window and the tray must outlive the object.
    TrayPresence(QWidget& window, CSystemTray& tray, QObject* parent = nullptr);

    // bMinimized as stored: 1 puts the window away.
    void ApplyStoredMinimized();
    // Whether the window is to be shown at the end of start-up.
    bool ShowAtStart() const { return !HiddenInTray(); }

    // Puts the window away: hidden in the tray, or minimised where no tray
    // can bring it back; bMinimized stored as 1; the hide balloon counted.
    void MinimizeToTray();
    // The window was shown again (by the tray, a second copy, or the task
    // bar where no tray exists): the flashing stops, bMinimized stored as 0.
    void Restored();
    // Read by the alert steps on the pass's thread.
    bool HiddenInTray() const { return m_hiddenInTray.load(); }

    // Where the window stands and how large it is, kept across trips to the
    // tray and across runs (WindowGeometry). Place puts a window that was
    // never shown where it was last time, or exactly in the middle of its
    // screen on the first start; KeepGeometry remembers where it is now;
    // BeforeShow puts it back there before it is shown again (a window
    // manager places a window mapped anew as it likes, often centred).
    void Place();
    void KeepGeometry();
    void BeforeShow();

private:
    void OnTrayChanged();

    QWidget& m_window;
    CSystemTray& m_tray;
    std::atomic<bool> m_hiddenInTray{false};
    QByteArray m_geometry;
};
