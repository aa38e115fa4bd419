#pragma once

#include <functional>
#include <string>

// The one way the program puts a message box in front of the user (caption
// "Kestrelle"). The core has no windows: without a handler the text goes to
// standard error. The desktop program installs a handler that shows a real
// box; tests install one that records the text and gives the next answer.
class UserMessage
{
public:
    enum class Icon { Stop, Question, Information, Exclamation };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    using Handler = std::function<Answer(const std::string& text, Icon, Buttons)>;

    static Answer Show(const std::string& text, Icon icon, Buttons buttons = Buttons::Ok);

    // Replaces the handler for the whole process; an empty one restores the
    // headless default. Returns the previous handler.
    static Handler SetHandler(Handler handler);
};
