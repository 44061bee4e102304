#include "privatesegment.h"

#include <QHostAddress>
#include <QNetworkInterface>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {
const char* const kRefusal =
    "refusing to open a socket: this test sends broadcasts to port 8400 and must run inside "
    "the private network segment (tools/private-segment COMMAND...)";
}

bool InPrivateSegment()
{
    bool bHasSegmentAddress = false;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        if (!(iface.flags() & QNetworkInterface::IsLoopBack))
            return false;
        for (const QNetworkAddressEntry& entry : iface.addressEntries())
            if (entry.ip() == QHostAddress(QStringLiteral("10.200.0.1")))
                bHasSegmentAddress = true;
    }
    return bHasSegmentAddress;
}

bool RequirePrivateSegment()
{
    if (InPrivateSegment())
        return true;
    ADD_FAILURE() << kRefusal;
    return false;
}

void RequirePrivateSegmentOrExit()
{
    if (InPrivateSegment())
        return;
    std::fprintf(stderr, "%s\n", kRefusal);
    std::exit(3);
}
