#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <string>

class QSoundEffect;

// The alert sound. Play may be called from any thread; the file is loaded
// and played on the user-interface thread, and nobody ever waits for it (a
// machine without an audio device reports a sound as playing for ever). A
// file that cannot be played gives the desktop's beep instead.
class AlertSound : public QObject
{
    Q_OBJECT

public:
    struct Choice
    {
        bool enabled = true; // the "Play sound effect when a site is down" setting
        std::string path;    // the wave file
    };
    // Asked on the user-interface thread each time a sound is due, so the
    // choice made in the Options dialog counts from the next alert on.
    using ChoiceSource = std::function<Choice()>;

    explicit AlertSound(ChoiceSource source, QObject* parent = nullptr);
    ~AlertSound() override;

    void Play();

    // What the last Play did, for tests.
    enum class Outcome
    {
        None,
        Silenced,
        Played,
        Beeped
    };
    Outcome LastOutcome() const { return m_lastOutcome; }

Q_SIGNALS:
    void Finished(); // the outcome of one Play is known

private:
    void PlayNow();
    void OnStatusChanged();
    void Beep();

    ChoiceSource m_source;
    std::unique_ptr<QSoundEffect> m_effect;
    bool m_waitingForLoad = false;
    Outcome m_lastOutcome = Outcome::None;
};
