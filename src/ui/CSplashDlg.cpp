#include "ui/CSplashDlg.h"

#include "ui_CSplashDlg.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

CSplashDlg::CSplashDlg(QWidget* owner)
    : QDialog(owner, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_ui(std::make_unique<Ui::CSplashDlg>())
{
    m_ui->setupUi(this);
    setFixedSize(size());
}

CSplashDlg::~CSplashDlg() = default;

void CSplashDlg::ShowFor(int ms)
{
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    // Painted before the rest of the start-up runs.
    repaint();
    QTimer::singleShot(ms, this, &QWidget::hide);
}

void CSplashDlg::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        hide();
    QDialog::mousePressEvent(event);
}
