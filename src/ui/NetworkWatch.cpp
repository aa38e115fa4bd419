#include "ui/NetworkWatch.h"

#include "ui/UiThread.h"

NetworkWatch::NetworkWatch(QObject* parent) : QObject(parent)
{
    // Only NetworkManager's backend: the other one Qt has (GLib's) reads the
    // same routing tables that the fallback reads.
    if (!QNetworkInformation::loadBackendByName(u"networkmanager"))
        return;
    QNetworkInformation* info = QNetworkInformation::instance();
    if (!info)
        return;
    connect(info, &QNetworkInformation::reachabilityChanged, this, &NetworkWatch::OnReachability);
    OnReachability(info->reachability());
}

NetworkWatch::State NetworkWatch::StateOf(QNetworkInformation::Reachability reachability)
{
    switch (reachability) {
    case QNetworkInformation::Reachability::Disconnected:
    case QNetworkInformation::Reachability::Local:
        return State::Offline;
    case QNetworkInformation::Reachability::Site:
    case QNetworkInformation::Reachability::Online:
        return State::Online;
    case QNetworkInformation::Reachability::Unknown:
        break;
    }
    return State::Unknown;
}

void NetworkWatch::OnReachability(QNetworkInformation::Reachability reachability)
{
    KESTRELLE_ASSERT_UI_THREAD();
    const State now = StateOf(reachability);
    const State before = m_state.exchange(now);
    if (now == before)
        return;
    if (now == State::Offline)
        Q_EMIT WentOffline();
    else if (before == State::Offline && now == State::Online)
        Q_EMIT CameBack();
}

bool NetworkWatch::Offline()
{
    switch (m_state.load()) {
    case State::Offline:
        return true;
    case State::Online:
        return false;
    case State::Unknown:
        break;
    }
    return m_routes.Offline();
}
