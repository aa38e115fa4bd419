#include "ui/CXPButton.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace {
// The hot look follows the first move over the button after this delay, as
// the system's hover notice with the design's hover time of 1 ms does: in
// practice at once.
constexpr int kHoverMs = 1;
const QColor kBase(255, 255, 255);
// Columns a caption keeps free of on each side: the widest edge line (3
// pixels, centred on the face's edge, so 2 inside it) and one pixel of air.
constexpr int kCaptionInset = 3;
// The smallest caption we shrink to before letting a long caption be cut.
constexpr int kSmallestCaptionPixels = 6;
// Disabled text as the classic desktop embosses it: a white highlight one
// pixel down and right under the grey shadow.
const QColor kEmbossLight(255, 255, 255);
const QColor kEmbossShadow(128, 128, 128);
} // namespace

int CXPButton::CaptionPixelSize(QFont font, int lineHeight)
{
    // The caption's 14 is the height of a line (ascent plus descent), not the
    // size of the letters: take the largest size whose line still fits.
    for (int pixels = lineHeight; pixels > kSmallestCaptionPixels; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetrics(font).height() <= lineHeight)
            return pixels;
    }
    return kSmallestCaptionPixels;
}

QRect CXPButton::CaptionArea(const QRect& face)
{
    return face.adjusted(kCaptionInset, 0, -kCaptionInset, 0);
}

const CXPButton::Border CXPButton::kHotBorder{{
    {QColor(250, 196, 88), 3},
    {QColor(251, 202, 106), 3},
    {QColor(252, 210, 121), 2},
    {QColor(229, 151, 0), 2},
}};

const CXPButton::Border CXPButton::kFocusBorder{{
    {QColor(153, 198, 252), 3},
    {QColor(162, 189, 252), 3},
    {QColor(162, 201, 255), 2},
    {QColor(162, 201, 255), 2},
}};

CXPButton::CXPButton(QWidget* parent) : QPushButton(parent)
{
    Init();
}

CXPButton::CXPButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
{
    Init();
}

void CXPButton::Init()
{
    // Liberation Sans answers for "Arial" through fontconfig, with the same
    // metrics, so captions sit where they were designed to.
    m_fontCaption = QFont(QStringLiteral("Arial"));
    m_fontCaption.setPixelSize(CaptionPixelSize(m_fontCaption, kCaptionLineHeight));
    m_fontCaption.setWeight(QFont::Normal);
    m_fontCaption.setItalic(false);
    m_fontCaption.setUnderline(false);
    m_fontCaption.setStrikeOut(false);
    m_fontCaption.setStyleHint(QFont::SansSerif);

    // Mouse moves without a pressed button are what arm the hover look.
    setMouseTracking(true);
    m_hoverTimer.setSingleShot(true);
    m_hoverTimer.setInterval(kHoverMs);
    connect(&m_hoverTimer, &QTimer::timeout, this, &CXPButton::OnHover);
}

QColor CXPButton::FaceColour(int step, bool hover, bool lit)
{
    int redGreenDivisor = hover ? 4 : 3;
    int blueDivisor = 5;
    if (!hover && lit)
        blueDivisor = 4;
    else if (hover && lit)
        blueDivisor = 3;
    const int rg = kBase.red() - step / redGreenDivisor;
    return QColor(rg, rg, kBase.blue() - step / blueDivisor);
}

void CXPButton::paintEvent(QPaintEvent*)
{
    // Qt paints every widget into a back buffer and shows it in one copy, so
    // the button cannot flicker while it is drawn in layers.
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QRect item = rect();
    painter.fillRect(item, palette().color(QPalette::Window));

    // The rounded outline over the whole item, its inside white.
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(kBase);
    painter.drawRoundedRect(QRectF(item).adjusted(0.5, 0.5, -0.5, -0.5), 4.5, 4.5);

    const bool pressed = isDown();
    const bool disabled = !isEnabled();
    m_bFocus = m_bLit = hasFocus() ? 1 : 0;
    if (pressed || isDefault())
        m_bLit = 1;

    // The face, one row at a time: rows beyond the 64 steps repeat them,
    // shorter faces skip some.
    const QRect face = item.adjusted(kEdge, kEdge, -kEdge, -kEdge);
    const int height = face.height();
    for (int k = 0; k < height; ++k)
        painter.fillRect(face.left(), face.top() + k, face.width(), 1,
                         FaceColour(FaceStep(k, height), m_bHover != 0, m_bLit != 0));

    if (m_bFocus || m_bHover)
        DrawBorder(painter, face, m_bFocus && !m_bHover ? kFocusBorder : kHotBorder);

    QString caption = text();
    if (caption.isEmpty())
        return;
    caption.remove(QLatin1Char('&'));
    // A caption wider than the room between the edge lines is drawn smaller
    // rather than under them (narrow buttons, large fonts, odd scales).
    const QRect room = CaptionArea(face);
    QFont font = m_fontCaption;
    while (QFontMetrics(font).horizontalAdvance(caption) > room.width() &&
           font.pixelSize() > kSmallestCaptionPixels)
        font.setPixelSize(font.pixelSize() - 1);
    painter.setFont(font);
    painter.setClipRect(room);
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(caption);
    // Coordinates as the face's edges count them: right and bottom exclusive.
    const int right = face.left() + face.width();
    const int bottom = face.top() + face.height();
    int x = std::max(room.left(), (face.left() + right) / 2 - width / 2);
    int y = (face.top() + bottom) / 2 - metrics.height() / 2;
    if (pressed) {
        ++x;
        ++y;
    }
    const int baseline = y + metrics.ascent();
    if (disabled) {
        painter.setPen(kEmbossLight);
        painter.drawText(x + 1, baseline + 1, caption);
        painter.setPen(kEmbossShadow);
        painter.drawText(x, baseline, caption);
    } else {
        painter.setPen(Qt::black);
        painter.drawText(x, baseline, caption);
    }
}

void CXPButton::DrawBorder(QPainter& painter, const QRect& face, const Border& border) const
{
    const int left = face.left();
    const int top = face.top();
    const int right = face.left() + face.width();
    const int bottom = face.top() + face.height();

    // A pen line of width w covers w pixels across it, centred on the line
    // with the odd one before it; the spans here are inclusive.
    auto vertical = [&](const Edge& edge, int x, int yFirst, int yLast) {
        painter.fillRect(x - edge.width / 2, yFirst, edge.width, yLast - yFirst + 1, edge.colour);
    };
    auto horizontal = [&](const Edge& edge, int y, int xFirst, int xLast) {
        painter.fillRect(xFirst, y - edge.width / 2, xLast - xFirst + 1, edge.width, edge.colour);
    };
    // Each line runs from its start point up to, not including, its end
    // point: the sides from bottom - 3 up to top + 2, top and bottom from
    // left + 2 to right - 2.
    vertical(border[0], left, top + 3, bottom - 3);
    vertical(border[1], right - 1, top + 3, bottom - 3);
    horizontal(border[2], top, left + 2, right - 3);
    horizontal(border[3], bottom, left + 2, right - 3);
}

void CXPButton::mouseMoveEvent(QMouseEvent* event)
{
    // The first move arms the hover notice; later moves leave it be.
    if (!m_bTracking) {
        m_bTracking = 1;
        m_hoverTimer.start();
    }
    QPushButton::mouseMoveEvent(event);
}

void CXPButton::OnHover()
{
    if (!m_bTracking)
        return;
    m_bHover = 1;
    update();
}

void CXPButton::leaveEvent(QEvent* event)
{
    m_hoverTimer.stop();
    m_bTracking = 0;
    m_bHover = 0;
    update();
    QPushButton::leaveEvent(event);
}
