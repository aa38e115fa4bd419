#include "ui/HideBalloon.h"

#include "settings/CRegStore.h"
#include "ui/CSystemTray.h"

#include <string>

bool HideBalloon::ShowIfDue(CSystemTray& tray)
{
    const int hide = CRegStore::ReadInt(CRegStore::kProductKey, "bHideMinimizeBalloon");
    if (hide == 1)
        return false;
    const std::string times = CRegStore::ReadString(RegRoot::CurrentUser, CRegStore::kSoftware,
                                                    CRegStore::kProductKey, "iShowBalloonTimes");
    // With no count stored the count starts from the flag just read: -1
    // when that is missing too, so the first hide stores 0.
    int count = hide;
    if (!times.empty()) {
        count = CRegStore::DecimalValue(times);
        if (count > kLastShownCount)
            return false;
    }
    CRegStore::WriteString(CRegStore::kProductKey, "iShowBalloonTimes", std::to_string(count + 1));
    tray.ShowBalloonTip(kText, kTitle, kTimeoutMs);
    return true;
}
