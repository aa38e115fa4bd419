#pragma once

#include "ui/TrayHost.h"

#include <QStringList>

#include <memory>

// What the tray icon handed to the notification area, which the offscreen
// platform lacks. Shared, since the tray icon owns the host.
struct TrayRecord
{
    bool available = true;
    bool activationOnly = false;
    bool shown = false;
    int icon = 0;
    QString tip;
    QStringList calls; // "add", "icon N", "tip T", "balloon TITLE|TEXT|MS", "remove"
};

class RecordingTrayHost : public TrayHost
{
public:
    explicit RecordingTrayHost(std::shared_ptr<TrayRecord> r) : m_r(std::move(r)) {}
    bool Available() const override { return m_r->available; }
    bool ActivationOnly() const override { return m_r->activationOnly; }
    bool Add(int icon, const QString& tip) override
    {
        m_r->shown = true, m_r->icon = icon, m_r->tip = tip, m_r->calls << "add";
        return true;
    }
    void SetIcon(int icon) override
    {
        m_r->icon = icon, m_r->calls << QString("icon %1").arg(icon);
    }
    void SetTip(const QString& tip) override { m_r->tip = tip, m_r->calls << "tip " + tip; }
    void ShowMessage(const QString& title, const QString& text, int ms) override
    {
        m_r->calls << QString("balloon %1|%2|%3").arg(title, text).arg(ms);
    }
    void Remove() override { m_r->shown = false, m_r->calls << "remove"; }
    void SetMenu(QMenu*) override {}

private:
    std::shared_ptr<TrayRecord> m_r;
};
