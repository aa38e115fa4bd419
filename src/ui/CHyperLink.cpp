#include "ui/CHyperLink.h"

#include "platform/UserMessage.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <cstdio>
#include <mutex>

namespace {

const QColor kLinkColour(0, 0, 255);
const QColor kVisitedColour(128, 0, 128);
const QColor kActiveColour(0, 128, 128);

std::mutex g_openerMutex;
CHyperLink::Opener g_opener;

// The layouts nest: the label's item may sit in any of them.
bool AlignInLayout(QLayout* layout, QWidget* widget, Qt::Alignment alignment)
{
    if (!layout)
        return false;
    if (layout->setAlignment(widget, alignment))
        return true;
    for (int i = 0; i < layout->count(); ++i)
        if (AlignInLayout(layout->itemAt(i)->layout(), widget, alignment))
            return true;
    return false;
}

// The desktop entry the desktop opens web pages with, or empty.
QString DefaultHtmlHandler()
{
    QProcess query;
    query.start("xdg-mime", {"query", "default", "text/html"});
    if (!query.waitForStarted(5000) || !query.waitForFinished(5000) ||
        query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return {};
    const QString id = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
    // A desktop file id, never a path: nothing that could climb out of the folders.
    if (id.isEmpty() || id.contains('/'))
        return {};
    // The most personal folder first, as the desktop itself looks.
    QFile file(QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id));
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

int OpenWithDesktop(const std::string& url)
{
    if (QDesktopServices::openUrl(QUrl(QString::fromStdString(url))))
        return CHyperLink::kOpened;
    // The desktop gives no reason; "no association" is what fits.
    const int shellResult = CHyperLink::kNoAssociation;
    const QString entry = DefaultHtmlHandler();
    if (entry.isEmpty())
        return shellResult;
    const QString exec = CHyperLink::ExecLineOf(entry);
    if (exec.isEmpty())
        return shellResult;
    QStringList command = CHyperLink::LaunchCommand(exec, QString::fromStdString(url));
    if (command.isEmpty())
        return shellResult;
    const QString program = command.takeFirst();
    return QProcess::startDetached(program, command) ? CHyperLink::kOpened
                                                     : CHyperLink::kFileNotFound;
}

} // namespace

CHyperLink::CHyperLink(QWidget* parent) : QLabel(parent)
{
    setFocusPolicy(Qt::ClickFocus);
    setMouseTracking(true);
}

void CHyperLink::Bind()
{
    m_bBound = true;
    if (m_strUrl.empty())
        m_strUrl = text().toStdString();
    if (text().isEmpty())
        setText(QString::fromStdString(m_strUrl));
    QFont linkFont = font();
    linkFont.setUnderline((m_nLinkStyle & kUnderline) != 0);
    setFont(linkFont);
    SizeToText();
    setCursor(Qt::PointingHandCursor);
    setToolTip(QString::fromStdString(m_strUrl));
    UpdateColour();
}

void CHyperLink::SizeToText()
{
    if ((m_nLinkStyle & kSizeToText) == 0)
        return;
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    const QSize text = sizeHint();
    const Qt::Alignment horizontal = alignment() & Qt::AlignHorizontal_Mask;
    const Qt::Alignment keep = horizontal & Qt::AlignHCenter ? Qt::AlignHCenter
                               : horizontal & Qt::AlignRight ? Qt::AlignRight
                                                             : Qt::AlignLeft;
    if (parentWidget() && AlignInLayout(parentWidget()->layout(), this, keep | Qt::AlignVCenter)) {
        updateGeometry();
        return;
    }
    QRect r = geometry();
    if (keep == Qt::AlignHCenter)
        r.adjust((r.width() - text.width()) / 2, 0, -(r.width() - text.width()) / 2, 0);
    else if (keep == Qt::AlignRight)
        r.setLeft(r.right() + 1 - text.width());
    else
        r.setWidth(text.width());
    r.setHeight(text.height());
    setGeometry(r);
    update();
}

void CHyperLink::UpdateColour()
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, m_bActive    ? kActiveColour
                                     : m_bVisited ? kVisitedColour
                                                  : kLinkColour);
    setPalette(p);
    update();
}

bool CHyperLink::event(QEvent* e)
{
    if (e->type() == QEvent::Polish && !m_bBound)
        Bind();
    return QLabel::event(e);
}

void CHyperLink::mouseMoveEvent(QMouseEvent* e)
{
    const bool inside = rect().contains(e->position().toPoint());
    if (!m_bOver && inside) {
        m_bOver = 1;
        update();
    } else if (m_bOver && !inside) {
        m_bOver = 0;
        update();
    }
    QLabel::mouseMoveEvent(e);
}

void CHyperLink::leaveEvent(QEvent* e)
{
    if (m_bOver) {
        m_bOver = 0;
        update();
    }
    QLabel::leaveEvent(e);
}

void CHyperLink::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        if (m_nLinkStyle & kFocusOnClick)
            setFocus(Qt::MouseFocusReason);
        m_bActive = 1;
        UpdateColour();
    }
    QLabel::mousePressEvent(e);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && m_bActive)
        FollowLink();
    QLabel::mouseReleaseEvent(e);
}

void CHyperLink::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_Space) {
        FollowLink();
        return;
    }
    QLabel::keyPressEvent(e);
}

void CHyperLink::focusInEvent(QFocusEvent* e)
{
    m_bActive = 1;
    UpdateColour();
    QLabel::focusInEvent(e);
}

void CHyperLink::focusOutEvent(QFocusEvent* e)
{
    m_bOver = 0;
    m_bActive = 0;
    UpdateColour();
    QLabel::focusOutEvent(e);
}

void CHyperLink::FollowLink()
{
    bool testOpener = false;
    {
        std::lock_guard lock(g_openerMutex);
        testOpener = static_cast<bool>(g_opener);
    }
    if (testOpener) {
        LinkOpened(OpenUrl(m_strUrl));
        return;
    }
    LaunchXdgOpen();
}

void CHyperLink::LaunchXdgOpen()
{
    // xdg-open says by its exit status whether a browser took the address,
    // but with no desktop running it may stay until the browser it started
    // ends. A small shell waits for its answer a few seconds and then takes
    // the silence for success, leaving xdg-open and the browser running; the
    // window never waits meanwhile. (Qt's own openUrl starts xdg-open and
    // reports success before it has answered at all.)
    static const char* const kScript = "xdg-open \"$1\" & p=$!; i=0;"
                                       " while [ $i -lt 30 ]; do"
                                       "   if ! kill -0 $p 2>/dev/null; then wait $p; exit $?; fi;"
                                       "   sleep 0.1; i=$((i+1));"
                                       " done; exit 0";
    auto* launch = new QProcess(this);
    launch->setProgram(QStringLiteral("/bin/sh"));
    launch->setArguments({QStringLiteral("-c"), QString::fromLatin1(kScript), QStringLiteral("sh"),
                          QString::fromStdString(m_strUrl)});
    launch->setStandardInputFile(QProcess::nullDevice());
    connect(launch, &QProcess::finished, this,
            [this, launch](int exitCode, QProcess::ExitStatus status) {
                launch->deleteLater();
                if (status != QProcess::NormalExit)
                    LinkOpened(kNoAssociation);
                else if (exitCode == 0)
                    LinkOpened(kOpened);
                else if (exitCode == 127) // no xdg-open: the desktop's way, then by hand
                    LinkOpened(OpenWithDesktop(m_strUrl));
                else if (exitCode == 2) // xdg-open: the file does not exist
                    LinkOpened(kFileNotFound);
                else // no program for it (3) or it failed (4)
                    LinkOpened(kNoAssociation);
            });
    connect(launch, &QProcess::errorOccurred, this, [this, launch](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        launch->deleteLater();
        LinkOpened(OpenWithDesktop(m_strUrl));
    });
    launch->start();
}

void CHyperLink::LinkOpened(int result)
{
    if (result > 32) {
        m_bVisited = 1;
        UpdateColour();
        return;
    }
    QApplication::beep();
    ReportLinkError(result);
}

void CHyperLink::ReportLinkError(int code)
{
    UserMessage::Show("Can't open link:\n\n" + LinkErrorReason(code),
                      UserMessage::Icon::Exclamation);
}

int CHyperLink::OpenUrl(const std::string& url)
{
    Opener opener;
    {
        std::lock_guard lock(g_openerMutex);
        opener = g_opener;
    }
    return opener ? opener(url) : OpenWithDesktop(url);
}

void CHyperLink::SetOpenerForTests(Opener opener)
{
    std::lock_guard lock(g_openerMutex);
    g_opener = std::move(opener);
}

QString CHyperLink::ExecLineOf(const QString& desktopEntry)
{
    bool inMainGroup = false;
    for (const QString& raw : desktopEntry.split('\n')) {
        const QString line = raw.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const int equals = line.indexOf('=');
        if (equals > 0 && line.left(equals).trimmed() == "Exec")
            return line.mid(equals + 1).trimmed();
    }
    return {};
}

QStringList CHyperLink::LaunchCommand(const QString& execLine, const QString& url)
{
    // The first placeholder for the address, quoted or bare, whichever
    // comes first; everything from it on goes, as with "%1" on Windows.
    int cut = -1;
    for (int i = 0; i + 1 < execLine.size(); ++i) {
        if (execLine[i] == '%' && execLine[i + 1] == '%') {
            ++i; // an escaped percent sign
            continue;
        }
        if (execLine[i] != '%' || !QString("uUfF").contains(execLine[i + 1]))
            continue;
        cut = i;
        const bool quoted = i > 0 && (execLine[i - 1] == '"' || execLine[i - 1] == '\'') &&
                            i + 2 < execLine.size() && execLine[i + 2] == execLine[i - 1];
        if (quoted)
            --cut;
        break;
    }
    QString head = cut < 0 ? execLine : execLine.left(cut);
    head.replace("%%", "%");
    QStringList command = QProcess::splitCommand(head);
    command << url;
    return command;
}

std::string CHyperLink::LinkErrorReason(int code)
{
    // An opening here fails in two ways only: no program for web pages, or
    // the handler's program could not be started. The texts are the ones
    // the shell's table gives those two codes.
    switch (code) {
    case kFileNotFound:
        return "The specified file was not found.";
    case kNoAssociation:
        return "There is no application associated\nwith the given filename extension.";
    default: {
        char text[64];
        std::snprintf(text, sizeof text, "Unknown Error (%d) occurred.", code);
        return text;
    }
    }
}
