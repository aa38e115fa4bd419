#pragma once

#include "platform/UserMessage.h"

#include <deque>
#include <string>
#include <vector>

// Stands in for the message box while it lives: records every text and icon
// and gives the next answer queued (Ok, or No for a question, when none is).
class MessageRecorder
{
public:
    struct Shown
    {
        std::string text;
        UserMessage::Icon icon;
    };

    MessageRecorder()
    {
        m_previous = UserMessage::SetHandler([this](const UserMessage::Box& box) {
            m_shown.push_back({box.text, box.icon});
            if (!m_answers.empty()) {
                const auto answer = m_answers.front();
                m_answers.pop_front();
                return answer;
            }
            return box.buttons == UserMessage::Buttons::YesNo ? UserMessage::Answer::No
                                                              : UserMessage::Answer::Ok;
        });
    }
    ~MessageRecorder() { UserMessage::SetHandler(m_previous); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    void Answer(UserMessage::Answer answer) { m_answers.push_back(answer); }
    const std::vector<Shown>& All() const { return m_shown; }
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const auto& s : m_shown)
            texts.push_back(s.text);
        return texts;
    }
    void Clear() { m_shown.clear(); }

private:
    UserMessage::Handler m_previous;
    std::vector<Shown> m_shown;
    std::deque<UserMessage::Answer> m_answers;
};
