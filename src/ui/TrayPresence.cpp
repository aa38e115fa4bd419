#include "ui/TrayPresence.h"

#include "monitor/AlertChain.h"
#include "monitor/MailAlert.h"
#include "platform/Clock.h"
#include "platform/UserMessage.h"
#include "settings/CRegStore.h"
#include "ui/BalloonAlert.h"
#include "ui/FlashAlert.h"
#include "ui/FlashAlertThread.h"
#include "ui/HideBalloon.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <cstdlib>

namespace {
std::function<void(int)>& ExitFunction()
{
    static std::function<void(int)> exitFunction = [](int code) { std::exit(code); };
    return exitFunction;
}

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

void TrayPresence::SetExitForTests(std::function<void(int)> exitFunction)
{
    ExitFunction() = exitFunction ? std::move(exitFunction) : [](int code) { std::exit(code); };
}

TrayPresence::TrayPresence(Window window, std::unique_ptr<TrayHost> host, QObject* parent)
    : QObject(parent), m_window(std::move(window)), m_tray(std::move(host)),
      m_sound(m_window.soundChoice)
{
    connect(&m_tray, &CSystemTray::Command, this, &TrayPresence::OnTrayCommand);
    connect(&m_tray, &CSystemTray::TrayChanged, this, &TrayPresence::OnTrayChanged);
    connect(&m_scheduler, &CheckScheduler::Due, this, [this] {
        m_window.checkSites();
        UpdateNextCheck();
    });
    connect(&m_sleep, &SleepWatcher::Resumed, &m_scheduler, &CheckScheduler::OnResumed);
}

TrayPresence::~TrayPresence()
{
    FlashAlertThread::StopAndWait();
}

void TrayPresence::OnTrayCommand(int commandId)
{
    switch (commandId) {
    case CSystemTray::kCmdEnabled:
        ToggleEnabled();
        break;
    case CSystemTray::kCmdExit:
        ExitProgram();
        break;
    default:
        Q_EMIT Command(commandId);
        break;
    }
}

void TrayPresence::OnTrayChanged()
{
    // The tray the window was hidden in has gone: the task bar is now the
    // only way back to it.
    if (m_hiddenInTray && !m_window.widget->isVisible() && !m_tray.TrayAvailable())
        ShowMinimised(m_window.widget);
}

void TrayPresence::CreateIcon()
{
    m_tray.Create(CSystemTray::kTipLoading, CSystemTray::kIconNormal);
    m_tray.SetDefaultMenuItem(1);
}

void TrayPresence::ApplyStoredMinimized()
{
    const int stored = CRegStore::ReadInt(CRegStore::kProductKey, "bMinimized");
    if (stored == 1) {
        m_hiddenInTray = true;
        if (m_tray.TrayAvailable())
            m_window.widget->hide();
        else
            ShowMinimised(m_window.widget);
    } else if (stored != 0) {
        m_hiddenInTray = false;
    }
}

void TrayPresence::StartTimer()
{
    m_scheduler.Start(m_window.minutes());
    UpdateNextCheck();
}

void TrayPresence::FinishStart()
{
    m_tray.SetTipText(CSystemTray::kTipRunning);
}

void TrayPresence::MinimizeToTray()
{
    m_hiddenInTray = true;
    const bool tray = m_tray.TrayAvailable();
    // Without a tray, hiding would leave nothing to bring the window back.
    if (tray)
        m_window.widget->hide();
    else if (!m_window.widget->isMinimized())
        m_window.widget->showMinimized();
    StoreMinimized("1");
    // The balloon speaks of the tray; without one it would say nothing true.
    if (tray)
        HideBalloon::ShowIfDue(m_tray);
}

void TrayPresence::Restored()
{
    MinimiseWhenExposed::CancelFor(m_window.widget);
    m_hiddenInTray = false;
    g_bKeepFlashing = false;
    StoreMinimized("0");
}

void TrayPresence::ToggleEnabled()
{
    const bool wasOn = m_tray.MonitoringOn();
    m_tray.SetMonitoringOn(!wasOn);
    if (wasOn)
        m_scheduler.Stop();
    else
        m_scheduler.Start(m_window.minutes());
    UpdateNextCheck();
    m_tray.SetIconById(wasOn ? CSystemTray::kIconDisabled : CSystemTray::kIconNormal);
}

void TrayPresence::UpdateNextCheck()
{
    m_window.showNextCheck(QString::fromStdString(
        CheckScheduler::NextCheckText(m_tray.MonitoringOn(), Clock::Now(), m_window.minutes())));
}

void TrayPresence::RestartCheckTimer()
{
    // While monitoring is off no timer runs: the new interval counts from
    // the moment it is switched on again, and label and icon keep saying off.
    if (m_tray.MonitoringOn())
        m_scheduler.Start(m_window.minutes());
    UpdateNextCheck();
}

void TrayPresence::ExitProgram()
{
    if (UserMessage::Show(kExitQuestion, UserMessage::Icon::Question,
                          UserMessage::Buttons::YesNo) != UserMessage::Answer::Yes)
        return;
    EndProgram();
}

void TrayPresence::EndProgram()
{
    FlashAlertThread::StopAndWait();
    m_scheduler.Stop();
    m_tray.RemoveIcon();
    // A pass, a mail or a fetch still running is simply ended with the
    // process; a save already asked for is finished first, so the file is
    // whole and current.
    if (m_window.finishSaves)
        m_window.finishSaves();
    ExitFunction()(0);
}

void TrayPresence::AddAlertSteps(AlertChain& chain)
{
    m_balloonStep = std::make_unique<BalloonAlert>(*this);
    m_mailStep = std::make_unique<MailAlert>();
    m_flashStep = std::make_unique<FlashAlert>(*this);
    chain.Add(*m_balloonStep);
    chain.Add(*m_mailStep);
    chain.Add(*m_flashStep);
}

void TrayPresence::ShowAlertBalloon(const std::string& text, const std::string& title)
{
    m_tray.ShowBalloonTip(text, title, kAlertBalloonMs);
}

void TrayPresence::FlashIfHidden(const std::string& siteName)
{
    if (!m_hiddenInTray)
        return;
    FlashAlertThread::KeepFlashing();
    FlashAlertThread::Start(FlashAlertJob{&m_tray, siteName, [this] { m_sound.Play(); }});
}
