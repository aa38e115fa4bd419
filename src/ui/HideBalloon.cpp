#include "ui/HideBalloon.h"

#include "settings/COptionsDlg.h"
#include "ui/CSystemTray.h"

bool HideBalloon::ShowIfDue(CSystemTray& tray)
{
    COptionsDlg stored;
    const int hide = stored.m_bHideMinimizeBalloon;
    if (hide == 1)
        return false;
    // With no count stored the count starts from the flag just read: -1
    // when that is missing too, so the first hide stores 0.
    int count = hide;
    if (stored.m_iShowBalloonTimes != COptionsDlg::kNotStored) {
        count = stored.m_iShowBalloonTimes;
        if (count > kLastShownCount)
            return false;
    }
    COptionsDlg::StoreValue(&COptionsDlg::m_iShowBalloonTimes, count + 1);
    tray.ShowBalloonTip(kText, kTitle, kTimeoutMs);
    return true;
}
