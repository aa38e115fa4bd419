#include "ui/CXPButton.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>

#include <gtest/gtest.h>

namespace {

QImage Render(CXPButton& button)
{
    return button.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QColor At(const QImage& image, int x, int y)
{
    return QColor(image.pixel(x, y));
}

// The box around every pixel darker than the face: the caption's ink.
QRect InkBox(const QImage& image)
{
    QRect box;
    for (int y = 3; y < image.height() - 3; ++y)
        for (int x = 4; x < image.width() - 4; ++x)
            if (qGray(image.pixel(x, y)) < 128)
                box |= QRect(x, y, 1, 1);
    return box;
}

void Hover(CXPButton& button)
{
    const QPointF inside(button.width() / 2.0, button.height() / 2.0);
    QMouseEvent move(QEvent::MouseMove, inside, button.mapToGlobal(inside), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&button, &move);
    while (!button.IsHovered())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace

TEST(CXPButtonTest, FaceRowsFollowTheGradientSteps)
{
    CXPButton button; // no caption: every face pixel is gradient
    button.resize(80, 25);
    const QImage image = Render(button);
    const int height = 25 - 2 * CXPButton::kEdge;
    ASSERT_EQ(height, 21);
    for (int k = 0; k < height; ++k)
        EXPECT_EQ(At(image, 40, CXPButton::kEdge + k),
                  CXPButton::FaceColour(CXPButton::FaceStep(k, height), false, false))
            << "row " << k;
    EXPECT_EQ(At(image, 40, CXPButton::kEdge + 20), QColor(235, 235, 243));
    EXPECT_EQ(At(image, 40, CXPButton::kEdge), QColor(255, 255, 255));
    EXPECT_EQ(CXPButton::FaceStep(20, 21), 60);
    EXPECT_EQ(CXPButton::FaceStep(199, 200), 62); // never past the last brush
}

TEST(CXPButtonTest, FaceColoursPerLook)
{
    struct Case
    {
        bool hover, lit;
        QColor step60;
    } const cases[] = {
        {false, false, QColor(235, 235, 243)},
        {false, true, QColor(235, 235, 240)},
        {true, false, QColor(240, 240, 243)},
        {true, true, QColor(240, 240, 235)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CXPButton::FaceColour(60, c.hover, c.lit), c.step60)
            << "hover " << c.hover << " lit " << c.lit;
}

TEST(CXPButtonTest, DefaultButtonIsLitWithoutBorder)
{
    CXPButton button;
    button.resize(80, 25);
    button.setDefault(true);
    const QImage image = Render(button);
    EXPECT_EQ(At(image, 40, CXPButton::kEdge + 20), CXPButton::FaceColour(60, false, true));
    // No border: the left edge line's place shows the face.
    EXPECT_EQ(At(image, 2, 12), CXPButton::FaceColour(10 * 63 / 21, false, true));
}

TEST(CXPButtonTest, HotBorderAtItsLines)
{
    CXPButton button;
    button.resize(80, 25);
    Hover(button);
    const QImage image = Render(button);
    // Face from (2, 2) to (78, 23) exclusive: sides 3 wide on x = 2 and
    // x = 77, top and bottom 2 high on y = 2 and y = 23.
    const CXPButton::Border& hot = CXPButton::kHotBorder;
    for (int x : {1, 2, 3})
        EXPECT_EQ(At(image, x, 12), hot[0].colour) << x;
    for (int x : {76, 77, 78})
        EXPECT_EQ(At(image, x, 12), hot[1].colour) << x;
    EXPECT_EQ(At(image, 40, 1), hot[2].colour);
    EXPECT_EQ(At(image, 40, 2), hot[2].colour);
    EXPECT_EQ(At(image, 40, 22), hot[3].colour);
    EXPECT_EQ(At(image, 40, 23), hot[3].colour);
    // The sides run from y = 5 to y = 20; the lines' ends stay face.
    EXPECT_EQ(At(image, 2, 5), hot[0].colour);
    EXPECT_EQ(At(image, 2, 20), hot[0].colour);
    EXPECT_NE(At(image, 2, 4), hot[0].colour);
    EXPECT_NE(At(image, 2, 21), hot[0].colour);
    EXPECT_EQ(At(image, 4, 2), hot[2].colour);
    EXPECT_EQ(At(image, 75, 2), hot[2].colour);
    EXPECT_NE(At(image, 76, 1), hot[2].colour);
    EXPECT_EQ(hot[3].colour, QColor(229, 151, 0));
    // Hover changes the face steps too.
    EXPECT_EQ(At(image, 40, 12), CXPButton::FaceColour(10 * 63 / 21, true, false));

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_FALSE(button.IsHovered());
    EXPECT_EQ(At(Render(button), 2, 12), CXPButton::FaceColour(10 * 63 / 21, false, false));
}

TEST(CXPButtonTest, FocusBorderAtItsLines)
{
    QWidget window;
    auto* button = new CXPButton(&window);
    button->setGeometry(0, 0, 80, 25);
    window.show();
    window.activateWindow();
    button->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(button->hasFocus());
    const QImage image = Render(*button);
    const CXPButton::Border& focus = CXPButton::kFocusBorder;
    EXPECT_EQ(At(image, 2, 12), QColor(153, 198, 252));
    EXPECT_EQ(At(image, 77, 12), focus[1].colour);
    EXPECT_EQ(At(image, 40, 2), QColor(162, 201, 255));
    EXPECT_EQ(At(image, 40, 23), focus[3].colour);
    // Focus lights the face.
    EXPECT_EQ(At(image, 40, 12), CXPButton::FaceColour(10 * 63 / 21, false, true));
}

TEST(CXPButtonTest, CaptionWithoutMnemonicMarkerMovesWhenPressed)
{
    CXPButton marked(QStringLiteral("&Check Now"));
    CXPButton plain(QStringLiteral("Check Now"));
    for (CXPButton* b : {&marked, &plain})
        b->resize(120, 29);
    const QImage shown = Render(marked);
    EXPECT_EQ(shown, Render(plain)); // no "&", no underline
    const QRect up = InkBox(shown);
    ASSERT_FALSE(up.isEmpty());

    marked.setDown(true);
    const QRect down = InkBox(Render(marked));
    EXPECT_EQ(down, up.translated(1, 1));
}
