#include "ui/AlertSound.h"

#include "ui/UiThread.h"

#include <QApplication>
#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

AlertSound::AlertSound(ChoiceSource source, QObject* parent)
    : QObject(parent), m_source(std::move(source)), m_effect(std::make_unique<QSoundEffect>())
{
    connect(m_effect.get(), &QSoundEffect::statusChanged, this, &AlertSound::OnStatusChanged);
}

AlertSound::~AlertSound() = default;

void AlertSound::Play()
{
    RunOnUi(this, [this] { PlayNow(); });
}

void AlertSound::PlayNow()
{
    KESTRELLE_ASSERT_UI_THREAD();
    const Choice choice = m_source ? m_source() : Choice{};
    if (!choice.enabled || choice.path.empty()) {
        m_lastOutcome = Outcome::Silenced;
        Q_EMIT Finished();
        return;
    }
    const QString path = QString::fromStdString(choice.path);
    if (!QFileInfo(path).isFile()) {
        Beep();
        return;
    }
    const QUrl source = QUrl::fromLocalFile(path);
    if (m_effect->source() == source && m_effect->status() == QSoundEffect::Ready) {
        m_effect->play();
        m_lastOutcome = Outcome::Played;
        Q_EMIT Finished();
        return;
    }
    m_waitingForLoad = true;
    m_effect->setSource(source);
    // A source already loading or loaded reports no new status.
    OnStatusChanged();
}

void AlertSound::OnStatusChanged()
{
    if (!m_waitingForLoad)
        return;
    switch (m_effect->status()) {
    case QSoundEffect::Ready:
        m_waitingForLoad = false;
        m_effect->play();
        m_lastOutcome = Outcome::Played;
        Q_EMIT Finished();
        break;
    case QSoundEffect::Error:
        m_waitingForLoad = false;
        Beep();
        break;
    default:
        break;
    }
}

void AlertSound::Beep()
{
    QApplication::beep();
    m_lastOutcome = Outcome::Beeped;
    Q_EMIT Finished();
}
