#pragma once

#include <functional>
#include <string>

// The one way the program puts a message box in front of the user. The core
// has no windows: without a handler the text goes to standard error. The
// desktop program installs a handler that shows a real box; tests install
// one that records the box and gives the next answer.
class UserMessage
{
public:
    enum class Icon
    {
        Stop,
        Question,
        Information,
        Exclamation,
        None
    };
    enum class Buttons
    {
        Ok,
        YesNo
    };
    enum class Answer
    {
        Ok,
        Yes,
        No
    };

    static constexpr const char* kCaption = "Kestrelle";

    struct Box
    {
        std::string text;
        Icon icon = Icon::Information;
        Buttons buttons = Buttons::Ok;
        // The program's name, except where a dialog names its own subject.
        std::string title = kCaption;
    };

    using Handler = std::function<Answer(const Box& box)>;

    static Answer Show(const Box& box);
    static Answer Show(const std::string& text, Icon icon, Buttons buttons = Buttons::Ok)
    {
        return Show(Box{text, icon, buttons});
    }

    // Replaces the handler for the whole process; an empty one restores the
    // headless default. Returns the previous handler.
    static Handler SetHandler(Handler handler);
};
