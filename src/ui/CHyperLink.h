#pragma once

#include <QLabel>
#include <QStringList>

#include <functional>
#include <string>

// A label that is a web link: underlined text in link colours, a hand over
// it, the address as its tooltip, and a click (or the space bar while it has
// the focus) opens the address in the user's browser. The label opens what
// it shows unless an address is set before it is bound.
class CHyperLink : public QLabel
{
    Q_OBJECT

public:
    explicit CHyperLink(QWidget* parent = nullptr);

    // Takes the text as the address (or the address as the text), underlines
    // the font, sizes the label to its text keeping its left edge, and sets
    // the cursor and tooltip. Runs by itself before the label is first shown;
    // windows that change the text afterwards call it again.
    void Bind();

    void SetUrl(const std::string& url) { m_strUrl = url; }
    const std::string& Url() const { return m_strUrl; }
    bool IsVisited() const { return m_bVisited != 0; }
    bool IsActive() const { return m_bActive != 0; }
    bool IsOver() const { return m_bOver != 0; }

    // The three results an opening can have, numbered as the shell numbers
    // them (anything above 32 is success).
    static constexpr int kOpened = 33;
    static constexpr int kFileNotFound = 2;
    static constexpr int kNoAssociation = 31;

    // Opens the address: the desktop's own way first, then the default
    // handler for text/html started by hand. (A click runs xdg-open and
    // waits for its answer without holding the window; this is the way
    // when xdg-open is not there.)
    static int OpenUrl(const std::string& url);
    // Replaces OpenUrl for the whole process (tests must never start a
    // browser); an empty function restores it.
    using Opener = std::function<int(const std::string& url)>;
    static void SetOpenerForTests(Opener opener);

    // The program and its arguments that open `url` with a desktop entry's
    // Exec line: the line cut at its first placeholder for the address (a
    // quoted or bare %u, %U, %f or %F), split as the desktop entry format
    // quotes, and the address appended as one more argument.
    static QStringList LaunchCommand(const QString& execLine, const QString& url);
    // The Exec line of a desktop entry's [Desktop Entry] group; empty when
    // it has none.
    static QString ExecLineOf(const QString& desktopEntry);
    // The text after "Can't open link:\n\n" for a failed opening's code;
    // a code no opening gives here reads as unknown.
    static std::string LinkErrorReason(int code);

    static constexpr unsigned kUnderline = 0x01;
    static constexpr unsigned kSizeToText = 0x04;
    static constexpr unsigned kFocusOnClick = 0x10;

protected:
    bool event(QEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;

private:
    void FollowLink();
    void LaunchXdgOpen();
    // The end of an opening: visited on success, else the reason shown.
    void LinkOpened(int result);
    void ReportLinkError(int code);
    void UpdateColour();
    void SizeToText();

    int m_bActive = 0;
    int m_bOver = 0;
    int m_bVisited = 0;
    unsigned m_nLinkStyle = kUnderline | kSizeToText | kFocusOnClick;
    std::string m_strUrl;
    bool m_bBound = false;
};
