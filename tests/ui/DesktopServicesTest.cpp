#include "UiTestSupport.h"
#include "ui/DesktopMessageBox.h"
#include "ui/EventLoopWaiter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

// Answers the first message box that is shown with its Yes button, and
// remembers what it looked like and on which thread it ran.
class BoxAnswerer : public QObject
{
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box && event->type() == QEvent::Show && !seen) {
            seen = true;
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            hasWindowIcon = !box->windowIcon().isNull();
            onUiThread = QThread::currentThread() == qApp->thread();
            QTimer::singleShot(0, box, [box] { box->button(QMessageBox::Yes)->click(); });
        }
        return false;
    }

    bool seen = false, onUiThread = false, hasWindowIcon = false;
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

} // namespace

TEST(DesktopServicesTest, WorkerQuestionIsAskedOnTheUiThreadAndWaitsForTheAnswer)
{
    BoxAnswerer answerer;
    qApp->installEventFilter(&answerer);
    auto answer = std::async(std::launch::async, [] {
        return DesktopMessageBox::Show(
            {"Are you sure?", UserMessage::Icon::Question, UserMessage::Buttons::YesNo});
    });
    ASSERT_TRUE(uitest::RunUntil(
        [&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    qApp->removeEventFilter(&answerer);

    EXPECT_EQ(answer.get(), UserMessage::Answer::Yes);
    EXPECT_TRUE(answerer.onUiThread);
    EXPECT_EQ(answerer.caption, QStringLiteral("Kestrelle"));
    EXPECT_EQ(answerer.text, QStringLiteral("Are you sure?"));
    EXPECT_EQ(answerer.icon, QMessageBox::Question);
    EXPECT_TRUE(answerer.hasWindowIcon);
}

TEST(DesktopServicesTest, UiThreadWaitKeepsEventsFlowing)
{
    EventLoopWaiter::Install();
    std::unique_ptr<FetchWaiter> waiter = FetchWaiter::Make();
    ASSERT_NE(dynamic_cast<EventLoopWaiter*>(waiter.get()), nullptr);
    std::thread([] {
        EXPECT_TRUE(FetchWaiter::Make()->MayTransferHere()); // the core's sleeping waiter
    }).join();

    // While it waits, this thread still runs what was posted to it.
    std::atomic<bool> ready{false};
    bool served = false;
    std::thread waker;
    QTimer::singleShot(0, [&] {
        served = true;
        waker = std::thread([&] {
            ready = true;
            waiter->Wake();
        });
    });
    waiter->Wait([&] { return ready.load(); });
    waker.join();
    EXPECT_TRUE(served);
    FetchWaiter::SetFactory({});
}
