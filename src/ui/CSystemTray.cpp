#include "ui/CSystemTray.h"

#include "platform/Utf8Text.h"
#include "ui/QtTrayHost.h"
#include "ui/UiThread.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QIcon>
#include <QMenu>

CSystemTray::CSystemTray(std::unique_ptr<TrayHost> host, QObject* parent)
    : QObject(parent), m_host(std::move(host)), m_menu(std::make_unique<QMenu>())
{
    if (!m_host)
        m_host = std::make_unique<QtTrayHost>(
            [this](TrayHost::Activation activation) { OnTrayNotify(activation); },
            [this] { OnTrayChanged(); }, [this] { OnBalloonClicked(); });

    m_menu->setObjectName("trayMenu163");
    AddEntry("menuAbout", "&About", kCmdAbout);
    AddEntry("menuOptions", "&Options", kCmdRestore);
    m_menu->addSeparator();
    AddEntry("menuEnabled", "Enabled", kCmdEnabled);
    m_menu->addSeparator();
    AddEntry("menuHelp", "&Help", kCmdHelp);
    AddEntry("menuUpgrade", "&Upgrade", kCmdUpgrade);
    AddEntry("menuExit", "&Exit", kCmdExit);
    m_menu->actions().at(kEnabledPosition)->setCheckable(true);
    SetDefaultMenuItem(0);
    RefreshEnabledEntry();
    // A host that builds its menu from ours on demand sees the current state.
    connect(m_menu.get(), &QMenu::aboutToShow, this, &CSystemTray::RefreshEnabledEntry);
}

CSystemTray::~CSystemTray()
{
    if (m_bEnabled)
        m_host->Remove();
}

void CSystemTray::AddEntry(const char* objectName, const char* text, int commandId)
{
    QAction* action = m_menu->addAction(QString::fromUtf8(text));
    action->setObjectName(QString::fromUtf8(objectName));
    action->setData(commandId);
    connect(action, &QAction::triggered, this, [this, commandId] { Q_EMIT Command(commandId); });
}

QString CSystemTray::IconPath(int iconId)
{
    switch (iconId) {
    case kIconDisabled:
        return QStringLiteral(":/icons/kestrelle-off.svg");
    case kIconAlert:
        return QStringLiteral(":/icons/kestrelle-alert.svg");
    default:
        return QStringLiteral(":/icons/kestrelle.svg");
    }
}

QString CSystemTray::Cut(const std::string& text, std::size_t maxBytes)
{
    const std::string_view kept = Utf8Text::CutToBytes(text, maxBytes);
    return QString::fromUtf8(kept.data(), static_cast<qsizetype>(kept.size()));
}

bool CSystemTray::Create(const std::string& tip, int iconId, int trayId)
{
    KESTRELLE_ASSERT_UI_THREAD();
    m_trayId = trayId;
    m_host->SetMenu(m_menu.get());
    const bool added = m_host->Add(iconId, Cut(tip, kMaxTipBytes));
    SetDefaultMenuItem(1);
    m_bEnabled = added;
    return added;
}

void CSystemTray::Post(std::function<void()> op)
{
    if (!OnUiThread()) {
        RunOnUi(this, std::move(op));
        return;
    }
    // Calls other threads queued earlier go first.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    op();
}

bool CSystemTray::SetIconById(int iconId)
{
    if (!m_bEnabled)
        return false;
    Post([this, iconId] {
        if (m_bEnabled)
            m_host->SetIcon(iconId);
    });
    return true;
}

bool CSystemTray::ShowStateIcon()
{
    if (!m_bEnabled)
        return false;
    Post([this] {
        if (m_bEnabled)
            m_host->SetIcon(m_bMonitoringOn ? kIconNormal : kIconDisabled);
    });
    return true;
}

bool CSystemTray::SetTipText(const std::string& tip)
{
    if (!m_bEnabled)
        return false;
    Post([this, text = Cut(tip, kMaxTipBytes)] {
        if (m_bEnabled)
            m_host->SetTip(text);
    });
    return true;
}

bool CSystemTray::SetStateTip(const std::string& tip)
{
    Post([this, text = Cut(tip, kMaxTipBytes)] { m_stateTip = text; });
    return ShowStateTip();
}

bool CSystemTray::ShowStateTip()
{
    if (!m_bEnabled)
        return false;
    Post([this] {
        if (m_bEnabled)
            m_host->SetTip(m_stateTip);
    });
    return true;
}

void CSystemTray::ShowBalloonTip(const std::string& text, const std::string& title, int timeoutMs,
                                 int iconKind)
{
    (void)iconKind; // every balloon of the program is an information balloon
    ShowClickableBalloon(text, title, timeoutMs, {});
}

void CSystemTray::ShowClickableBalloon(const std::string& text, const std::string& title,
                                       int timeoutMs, std::function<void()> onClick)
{
    Post([this, text = Cut(text, kMaxBalloonTextBytes), title = Cut(title, kMaxBalloonTitleBytes),
          timeoutMs, onClick = std::move(onClick)] {
        m_balloonClick = onClick;
        m_host->ShowMessage(title, text, timeoutMs);
    });
}

void CSystemTray::OnBalloonClicked()
{
    KESTRELLE_ASSERT_UI_THREAD();
    if (m_balloonClick)
        m_balloonClick();
}

void CSystemTray::RemoveIcon()
{
    KESTRELLE_ASSERT_UI_THREAD();
    if (!m_bEnabled)
        return;
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    m_bEnabled = false;
    m_host->Remove();
}

void CSystemTray::SetDefaultMenuItem(int position)
{
    KESTRELLE_ASSERT_UI_THREAD();
    const QList<QAction*> actions = m_menu->actions();
    if (position < 0 || position >= actions.size() || actions.at(position)->isSeparator())
        return;
    m_defaultPosition = position;
    m_menu->setDefaultAction(actions.at(position));
}

void CSystemTray::SetMonitoringOn(bool on)
{
    KESTRELLE_ASSERT_UI_THREAD();
    m_bMonitoringOn = on;
    RefreshEnabledEntry();
}

void CSystemTray::RefreshEnabledEntry()
{
    QAction* enabled = m_menu->actions().at(kEnabledPosition);
    enabled->setChecked(m_bMonitoringOn);
    // While monitoring is off the entry shows its own mark instead of an
    // empty check box, so the state reads at a glance.
    enabled->setIcon(m_bMonitoringOn ? QIcon() : QIcon(QStringLiteral(":/icons/enabled-off.svg")));
}

bool CSystemTray::TrayAvailable() const
{
    return m_host->Available();
}

void CSystemTray::OnTrayNotify(TrayHost::Activation activation)
{
    KESTRELLE_ASSERT_UI_THREAD();
    // A single click is not an action on XEmbed trays, where it always
    // comes before a double click; a StatusNotifierItem host reports only
    // activations, so there an activation is the way to open the window.
    const bool restore = activation == TrayHost::Activation::DoubleClick ||
                         (activation == TrayHost::Activation::Trigger && m_host->ActivationOnly());
    if (!restore)
        return;
    const QList<QAction*> actions = m_menu->actions();
    Q_EMIT Command(actions.at(m_defaultPosition)->data().toInt());
}
