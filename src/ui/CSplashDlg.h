#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class CSplashDlg;
}

// The picture shown while the program starts: a frameless window centred on
// the screen that hides itself after a while or at the first click. It never
// holds up the start: showing it returns at once.
class CSplashDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kShowMs = 3000;

    explicit CSplashDlg(QWidget* owner = nullptr);
    ~CSplashDlg() override;

    // Shows the window, paints it once and returns; it hides after `ms`.
    void ShowFor(int ms = kShowMs);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    std::unique_ptr<Ui::CSplashDlg> m_ui;
};
