#pragma once

#include "net/FetchSettings.h"
#include "net/FetchWaiter.h"
#include "platform/UserMessage.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

// Every fetcher test starts from the program's settings and leaves them so;
// message boxes are recorded instead of shown.
class FetcherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FetchSettings::ResetForTests();
        FetchWaiter::SetFactory({});
        UserMessage::SetHandler([this](const UserMessage::Box& box) {
            std::lock_guard lock(m_mutex);
            m_messages.push_back(box.text);
            return UserMessage::Answer::Ok;
        });
    }
    void TearDown() override
    {
        UserMessage::SetHandler({});
        FetchWaiter::SetFactory({});
        FetchSettings::ResetForTests();
    }
    std::vector<std::string> Messages()
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_messages;
};
