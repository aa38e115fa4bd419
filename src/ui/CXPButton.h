#pragma once

#include <QColor>
#include <QFont>
#include <QPushButton>
#include <QTimer>

#include <array>

// The program's push button: a rounded black outline, a face shaded from
// white down to a light blue-grey, the caption centred in Arial on 14-pixel
// lines, and edge lines lit orange while the pointer rests on it and blue
// while it has the keyboard focus. Everything but the look (clicks, keys, mnemonic,
// default button) is QPushButton's.
class CXPButton : public QPushButton
{
    Q_OBJECT

public:
    explicit CXPButton(QWidget* parent = nullptr);
    explicit CXPButton(const QString& text, QWidget* parent = nullptr);

    // One edge line: its colour and pen width, in the order left, right, top,
    // bottom.
    struct Edge
    {
        QColor colour;
        int width;
    };
    using Border = std::array<Edge, 4>;
    static const Border kHotBorder;   // pointer over the button
    static const Border kFocusBorder; // focused, pointer elsewhere

    // The face colour of gradient step i (0 to 63) for the two look flags.
    static QColor FaceColour(int step, bool hover, bool lit);
    // The step that paints row k of a face h rows high.
    static int FaceStep(int row, int height) { return row * 63 / height; }

    // The system's edge sizes that separate the outline from the face.
    static constexpr int kEdge = 2;
    // The caption's line height in pixels (ascent plus descent).
    static constexpr int kCaptionLineHeight = 14;
    // The largest pixel size of FONT whose line is at most LINEHEIGHT high.
    static int CaptionPixelSize(QFont font, int lineHeight);
    // Where a caption may draw inside a face: clear of the edge lines.
    static QRect CaptionArea(const QRect& face);

    bool IsHovered() const { return m_bHover != 0; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void Init();
    void DrawBorder(class QPainter& painter, const QRect& face, const Border& border) const;
    void OnHover();

    QFont m_fontCaption;
    QTimer m_hoverTimer;
    int m_bHover = 0;
    int m_bTracking = 0;
    int m_bFocus = 0;
    int m_bLit = 0;
};
