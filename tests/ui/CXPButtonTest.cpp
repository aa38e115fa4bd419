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

// The box around the caption's ink.
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

// 80 x 25 pixels: the face spans (2, 2) to (77, 22), 21 rows.
constexpr int kMiddleRow = 12; // face row 10, gradient step 30

} // namespace

TEST(CXPButtonTest, FaceRowsFollowTheGradientSteps)
{
    CXPButton button; // no caption: every face pixel is gradient
    button.resize(80, 25);
    const QImage image = Render(button);
    for (int k = 0; k < 21; ++k)
        EXPECT_EQ(At(image, 40, 2 + k), CXPButton::FaceColour(k * 63 / 21, false, false)) << k;
    EXPECT_EQ(At(image, 40, 22), QColor(235, 235, 243));
    EXPECT_EQ(CXPButton::FaceStep(199, 200), 62); // taller faces repeat steps, never past 63

    // Step 60 in each look: hover and lit change the divisors.
    EXPECT_EQ(CXPButton::FaceColour(60, false, true), QColor(235, 235, 240));
    EXPECT_EQ(CXPButton::FaceColour(60, true, false), QColor(240, 240, 243));
    EXPECT_EQ(CXPButton::FaceColour(60, true, true), QColor(240, 240, 235));

    // The default button is lit, but has no border without focus or hover.
    button.setDefault(true);
    const QImage lit = Render(button);
    EXPECT_EQ(At(lit, 40, 22), QColor(235, 235, 240));
    EXPECT_EQ(At(lit, 2, kMiddleRow), CXPButton::FaceColour(30, false, true));
}

TEST(CXPButtonTest, HotBorderAtItsLinesUntilThePointerLeaves)
{
    CXPButton button;
    button.resize(80, 25);
    Hover(button);
    const QImage image = Render(button);
    const CXPButton::Border& hot = CXPButton::kHotBorder;
    struct Pixel
    {
        int x, y;
        QColor colour;
    } const pixels[] = {
        // Sides 3 wide around x = 2 and x = 77, from y = 5 to y = 20.
        {1, kMiddleRow, QColor(250, 196, 88)},
        {3, kMiddleRow, hot[0].colour},
        {2, 5, hot[0].colour},
        {2, 20, hot[0].colour},
        {76, kMiddleRow, QColor(251, 202, 106)},
        {78, kMiddleRow, hot[1].colour},
        // Top and bottom 2 high on y = 2 and y = 23, from x = 4 to x = 75.
        {40, 1, QColor(252, 210, 121)},
        {4, 2, hot[2].colour},
        {75, 2, hot[2].colour},
        {40, 22, QColor(229, 151, 0)},
        {40, 23, hot[3].colour},
        // The line ends are left out; hover lightens the face.
        {2, 21, CXPButton::FaceColour(19 * 63 / 21, true, false)},
        {40, kMiddleRow, CXPButton::FaceColour(30, true, false)},
    };
    for (const Pixel& p : pixels)
        EXPECT_EQ(At(image, p.x, p.y), p.colour) << p.x << "," << p.y;

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_FALSE(button.IsHovered());
    EXPECT_EQ(At(Render(button), 2, kMiddleRow), CXPButton::FaceColour(30, false, false));
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
    EXPECT_EQ(At(image, 2, kMiddleRow), QColor(153, 198, 252));
    EXPECT_EQ(At(image, 77, kMiddleRow), QColor(162, 189, 252));
    EXPECT_EQ(At(image, 40, 2), QColor(162, 201, 255));
    EXPECT_EQ(At(image, 40, 23), QColor(162, 201, 255));
    EXPECT_EQ(At(image, 40, kMiddleRow), CXPButton::FaceColour(30, false, true)); // lit
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
    EXPECT_EQ(InkBox(Render(marked)), up.translated(1, 1));
}

TEST(CXPButtonTest, CaptionInkStaysClearOfTheEdgeLines)
{
    // The program's captions at the sizes its windows give them, and squeezed
    // buttons where a caption at full size would run into the lines.
    const struct
    {
        const char* caption;
        int width, height;
    } cases[] = {
        {"&Check Now", 78, 29}, {"&Options", 78, 29}, {"Upgrade", 78, 29},    {"&Remove", 72, 26},
        {"Test Email", 75, 23}, {"&Browse", 75, 23},  {"&Check Now", 50, 29}, {"Cancel", 30, 23},
    };
    for (const auto& c : cases) {
        for (bool enabled : {true, false}) {
            CXPButton button(QString::fromLatin1(c.caption));
            button.resize(c.width, c.height);
            button.setEnabled(enabled);
            const QImage image = Render(button);
            const QRect face = button.rect().adjusted(CXPButton::kEdge, CXPButton::kEdge,
                                                      -CXPButton::kEdge, -CXPButton::kEdge);
            // Caption ink is any pixel darker than the lightest face step; the
            // outline's rounded corners are outside the face.
            QRect ink;
            for (int y = face.top(); y <= face.bottom(); ++y)
                for (int x = face.left(); x <= face.right(); ++x)
                    if (qGray(image.pixel(x, y)) < 200)
                        ink |= QRect(x, y, 1, 1);
            ASSERT_FALSE(ink.isEmpty()) << c.caption;
            // The side lines cover face.left() - 1 to face.left() + 1 and
            // face.right() - 1 to face.right() + 1.
            EXPECT_GT(ink.left(), face.left() + 1) << c.caption << " " << c.width;
            EXPECT_LT(ink.right(), face.right() - 1) << c.caption << " " << c.width;
            EXPECT_GT(ink.top(), face.top()) << c.caption;
            EXPECT_LT(ink.bottom(), face.bottom()) << c.caption;
        }
    }
}

TEST(CXPButtonTest, DisabledCaptionIsEmbossed)
{
    CXPButton button(QStringLiteral("&Browse"));
    button.resize(75, 23);
    button.setEnabled(false);
    const QImage image = Render(button);
    bool shadow = false, highlight = false;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            shadow = shadow || At(image, x, y) == QColor(128, 128, 128);
            // White inside the face can only be the highlight: the face's
            // lightest step below its top row is not pure white.
            highlight = highlight || (y > 4 && y < image.height() - 3 && x > 3 &&
                                      x < image.width() - 4 && At(image, x, y) == Qt::white);
        }
    EXPECT_TRUE(shadow);
    EXPECT_TRUE(highlight);
}
