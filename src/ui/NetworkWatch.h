#pragma once

#include "monitor/NetworkProbe.h"
#include "monitor/RouteProbe.h"

#include <QNetworkInformation>
#include <QObject>

#include <atomic>

// What NetworkManager says of the network, through Qt's network
// information, as the probe of the desktop program's passes: where it
// answers, its word stands (no connection, or one to the local network
// only, is offline); where it cannot tell (no NetworkManager, no system
// bus), the routing tables decide. Made and told on the user-interface
// thread; Offline may be asked from any thread.
class NetworkWatch : public QObject, public NetworkProbe
{
    Q_OBJECT

public:
    enum class State
    {
        Unknown, // NetworkManager does not answer
        Offline,
        Online
    };

    // Loads Qt's NetworkManager backend; without it, the state stays Unknown.
    explicit NetworkWatch(QObject* parent = nullptr);

    bool Offline() override;
    State Current() const { return m_state.load(); }

    static State StateOf(QNetworkInformation::Reachability reachability);

public Q_SLOTS:
    // NetworkManager's word; the tests give theirs here.
    void OnReachability(QNetworkInformation::Reachability reachability);

Q_SIGNALS:
    void WentOffline();
    // The network is back after NetworkManager said it was gone.
    void CameBack();

private:
    std::atomic<State> m_state{State::Unknown};
    RouteProbe m_routes;
};
