#include "ui/TrayPresence.h"

#include "settings/COptionsDlg.h"
#include "ui/CSystemTray.h"
#include "ui/FlashAlertThread.h"
#include "ui/HideBalloon.h"
#include "ui/UiThread.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
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

void StoreMinimized(int value)
{
    // A store that cannot be written changes nothing the user sees now.
    COptionsDlg::StoreValue(&COptionsDlg::m_bMinimized, value);
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
    const int stored = COptionsDlg().m_bMinimized;
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

void TrayPresence::Place()
{
    KESTRELLE_ASSERT_UI_THREAD();
    const QByteArray stored =
        QByteArray::fromBase64(QByteArray::fromStdString(COptionsDlg().m_WindowGeometry));
    if (!stored.isEmpty() && m_window.restoreGeometry(stored)) {
        m_geometry = stored;
        return;
    }
    // The first start: the frame's middle on the screen's middle. The frame
    // is not known before the window is mapped, so it is centred once shown.
    const QScreen* screen =
        m_window.screen() ? m_window.screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    m_window.move(area.center() - QPoint(m_window.width() / 2, m_window.height() / 2));
    QTimer::singleShot(0, &m_window, [this, area] {
        const QRect frame = m_window.frameGeometry();
        if (m_window.isVisible() && frame.isValid())
            m_window.move(m_window.pos() + (area.center() - frame.center()));
    });
}

void TrayPresence::KeepGeometry()
{
    KESTRELLE_ASSERT_UI_THREAD();
    if (!m_window.isVisible() || m_window.isMinimized())
        return;
    m_geometry = m_window.saveGeometry();
    // One value: a store that cannot be written costs only the next start's
    // placement.
    COptionsDlg::StoreValue(&COptionsDlg::m_WindowGeometry, m_geometry.toBase64().toStdString());
}

void TrayPresence::BeforeShow()
{
    KESTRELLE_ASSERT_UI_THREAD();
    if (!m_window.isVisible() && !m_geometry.isEmpty())
        m_window.restoreGeometry(m_geometry);
}

void TrayPresence::MinimizeToTray()
{
    KESTRELLE_ASSERT_UI_THREAD();
    KeepGeometry();
    m_hiddenInTray = true;
    const bool tray = m_tray.TrayAvailable();
    // Without a tray, hiding would leave nothing to bring the window back.
    if (tray)
        m_window.hide();
    else if (!m_window.isMinimized())
        m_window.showMinimized();
    StoreMinimized(1);
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
    StoreMinimized(0);
}
