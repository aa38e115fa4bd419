#include "ui/CSplashDlg.h"
#include "UiWait.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>

#include <gtest/gtest.h>

TEST(CSplashDlgTest, ShowsItsPictureAndHidesAfterItsTimeOrAtAClick)
{
    CSplashDlg splash;
    const QLabel* picture = splash.findChild<QLabel*>("picture1021");
    ASSERT_NE(picture, nullptr);
    EXPECT_FALSE(picture->pixmap().isNull());

    splash.ShowFor(5);
    EXPECT_TRUE(splash.isVisible()); // showing does not wait for the time to pass
    EXPECT_TRUE(WaitUntil([&] { return !splash.isVisible(); }));

    splash.ShowFor(CSplashDlg::kShowMs);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), QPointF(10, 10), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&splash, &press);
    EXPECT_FALSE(splash.isVisible());
}
