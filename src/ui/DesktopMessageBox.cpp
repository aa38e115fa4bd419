#include "ui/DesktopMessageBox.h"

#include "ui/UiThread.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

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
    case UserMessage::Icon::None:
        return QMessageBox::NoIcon;
    }
    return QMessageBox::NoIcon;
}

UserMessage::Answer ShowHere(const UserMessage::Box& message)
{
    KESTRELLE_ASSERT_UI_THREAD();
    const bool yesNo = message.buttons == UserMessage::Buttons::YesNo;
    QMessageBox box(BoxIcon(message.icon), QString::fromStdString(message.title),
                    QString::fromStdString(message.text),
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

UserMessage::Answer DesktopMessageBox::Show(const UserMessage::Box& box)
{
    if (!QCoreApplication::instance()) {
        // No windows any more (the program is ending): say it where the core would.
        std::fprintf(stderr, "Kestrelle: %s\n", box.text.c_str());
        return box.buttons == UserMessage::Buttons::YesNo ? UserMessage::Answer::No
                                                          : UserMessage::Answer::Ok;
    }
    return AskOnUi([&box] { return ShowHere(box); });
}
