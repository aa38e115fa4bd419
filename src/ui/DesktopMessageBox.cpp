#include "ui/DesktopMessageBox.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QThread>

#include <cstdio>

namespace {

QMessageBox::Icon BoxIcon(UserMessage::Icon icon)
{
    switch (icon) {
    case UserMessage::Icon::Stop:
        return QMessageBox::Critical;
    case UserMessage::Icon::Question:
        return QMessageBox::Question;
    case UserMessage::Icon::Information:
        return QMessageBox::Information;
    case UserMessage::Icon::Exclamation:
        return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}

UserMessage::Answer ShowHere(const std::string& text, UserMessage::Icon icon,
                             UserMessage::Buttons buttons)
{
    const bool yesNo = buttons == UserMessage::Buttons::YesNo;
    QMessageBox box(BoxIcon(icon), QStringLiteral("Kestrelle"), QString::fromStdString(text),
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    QApplication::activeWindow());
    // A page's or server's words must never be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setWindowIcon(QIcon(QStringLiteral(":/icons/kestrelle.svg")));
    const int pressed = box.exec();
    if (!yesNo)
        return UserMessage::Answer::Ok;
    return pressed == QMessageBox::Yes ? UserMessage::Answer::Yes : UserMessage::Answer::No;
}

} // namespace

void DesktopMessageBox::Install()
{
    UserMessage::SetHandler(&DesktopMessageBox::Show);
}

UserMessage::Answer DesktopMessageBox::Show(const std::string& text, UserMessage::Icon icon,
                                            UserMessage::Buttons buttons)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        // No windows any more (the program is ending): say it where the core would.
        std::fprintf(stderr, "Kestrelle: %s\n", text.c_str());
        return buttons == UserMessage::Buttons::YesNo ? UserMessage::Answer::No
                                                      : UserMessage::Answer::Ok;
    }
    if (QThread::currentThread() == app->thread())
        return ShowHere(text, icon, buttons);

    UserMessage::Answer answer = UserMessage::Answer::No;
    QMetaObject::invokeMethod(
        app, [&] { answer = ShowHere(text, icon, buttons); }, Qt::BlockingQueuedConnection);
    return answer;
}
