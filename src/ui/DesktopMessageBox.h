#pragma once

#include "platform/UserMessage.h"

// The desktop's answer to UserMessage::Show: a real message box, always on
// the user-interface thread. A worker that asks waits for the user's answer,
// as it would for a modal box of its own.
class DesktopMessageBox
{
public:
    // Makes every UserMessage::Show of the process end up here.
    static void Install();

    static UserMessage::Answer Show(const UserMessage::Box& box);
};
