// The host's network interfaces as the endpoint uses them: a limited
// broadcast leaves by the default route's interface only, so discovery and
// the change of address go out once on each broadcast-capable interface, and
// a command goes out of the interface its appliance answered on.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>

// Interfaces that are up, running and broadcast-capable and hold an IPv4
// address, in the system's order.
QList<QNetworkInterface> BroadcastInterfaces();

// True when an IPv4 subnet of some interface of this host holds addr.
bool InLocalSubnet(const QHostAddress& addr);
