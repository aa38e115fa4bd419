#pragma once

#include "ui/TrayHost.h"

#include <QStringList>

#include <memory>

// Keeps what the tray icon hands to the notification area, for tests on the
// offscreen platform, which has none. The record outlives the host, which the
// tray icon owns.
struct TrayRecord
{
    bool available = true;
    bool activationOnly = false;
    bool shown = false;
    QStringList calls; // "icon 178", "tip ...", "balloon title|text|msecs", "add", "remove"
    int icon = 0;
    QString tip;
};

class RecordingTrayHost : public TrayHost
{
public:
    explicit RecordingTrayHost(std::shared_ptr<TrayRecord> record) : m_record(std::move(record)) {}

    bool Available() const override { return m_record->available; }
    bool ActivationOnly() const override { return m_record->activationOnly; }
    bool Add(int iconId, const QString& tip) override
    {
        m_record->shown = true;
        m_record->icon = iconId;
        m_record->tip = tip;
        m_record->calls << QStringLiteral("add");
        return true;
    }
    void SetIcon(int iconId) override
    {
        m_record->icon = iconId;
        m_record->calls << QStringLiteral("icon %1").arg(iconId);
    }
    void SetTip(const QString& tip) override
    {
        m_record->tip = tip;
        m_record->calls << QStringLiteral("tip ") + tip;
    }
    void ShowMessage(const QString& title, const QString& text, int msecs) override
    {
        m_record->calls << QStringLiteral("balloon %1|%2|%3").arg(title, text).arg(msecs);
    }
    void Remove() override
    {
        m_record->shown = false;
        m_record->calls << QStringLiteral("remove");
    }
    void SetMenu(QMenu*) override {}

private:
    std::shared_ptr<TrayRecord> m_record;
};
