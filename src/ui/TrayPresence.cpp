#include "ui/TrayPresence.h"

#include "settings/CRegStore.h"
#include "ui/CSystemTray.h"
#include "ui/FlashAlertThread.h"
#include "ui/HideBalloon.h"
#include "ui/UiThread.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace {
// Minimises a window that was never shown or was hidden once the window
// manager has put it on screen: some managers (openbox among them) ignore a
// window's wish to start minimised and map it normal. A restore asked for
// before that (a second copy started at once) cancels it, or the window
// would go away again right after coming back.
class MinimiseWhenExposed : public QObject
{
public:
    explicit MinimiseWhenExposed(QWidget* widget)
        : QObject(widget), m_widget(widget), m_window(widget->windowHandle())
    {
        setObjectName(kName);
        m_window->installEventFilter(this);
    }
    ~MinimiseWhenExposed() override
    {
        if (m_window)
            m_window->removeEventFilter(this);
    }

    static void CancelFor(QWidget* widget)
    {
        delete widget->findChild<QObject*>(kName, Qt::FindDirectChildrenOnly);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && m_window->isExposed() && !m_queued) {
            m_queued = true;
            // Queued on this object: cancelling drops the call with it.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    m_widget->showMinimized();
                    deleteLater();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    static constexpr const char* kName = "minimiseWhenExposed";
    QWidget* m_widget;
    QPointer<QWindow> m_window;
    bool m_queued = false;
};

void ShowMinimised(QWidget* widget)
{
    if (widget->isVisible()) {
        widget->showMinimized();
        return;
    }
    widget->show();
    if (widget->windowHandle() && !widget->windowHandle()->isExposed())
        new MinimiseWhenExposed(widget);
    else
        widget->showMinimized();
}

void StoreMinimized(const char* value)
{
    // A store that cannot be written changes nothing the user sees now.
    CRegStore::WriteString(CRegStore::kProductKey, "bMinimized", value);
}
} // namespace

TrayPresence::TrayPresence(QWidget& window, CSystemTray& tray, QObject* parent)
    : QObject(parent), m_window(window), m_tray(tray)
{
    connect(&m_tray, &CSystemTray::TrayChanged, this, &TrayPresence::OnTrayChanged);
}

void TrayPresence::OnTrayChanged()
{
    // The tray the window was hidden in has gone: the task bar is now the
    // only way back to it.
    if (m_hiddenInTray && !m_window.isVisible() && !m_tray.TrayAvailable())
        ShowMinimised(&m_window);
}

void TrayPresence::ApplyStoredMinimized()
{
    KESTRELLE_ASSERT_UI_THREAD();
    const int stored = CRegStore::ReadInt(CRegStore::kProductKey, "bMinimized");
    if (stored == 1) {
        m_hiddenInTray = true;
        if (m_tray.TrayAvailable())
            m_window.hide();
        else
            ShowMinimised(&m_window);
    } else if (stored != 0) {
        m_hiddenInTray = false;
    }
}

void TrayPresence::MinimizeToTray()
{
    KESTRELLE_ASSERT_UI_THREAD();
    m_hiddenInTray = true;
    const bool tray = m_tray.TrayAvailable();
    // Without a tray, hiding would leave nothing to bring the window back.
    if (tray)
        m_window.hide();
    else if (!m_window.isMinimized())
        m_window.showMinimized();
    StoreMinimized("1");
    // The balloon speaks of the tray; without one it would say nothing true.
    if (tray)
        HideBalloon::ShowIfDue(m_tray);
}

void TrayPresence::Restored()
{
    KESTRELLE_ASSERT_UI_THREAD();
    MinimiseWhenExposed::CancelFor(&m_window);
    m_hiddenInTray = false;
    FlashAlertThread::StopFlashing();
    StoreMinimized("0");
}
