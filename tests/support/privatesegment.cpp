#include "privatesegment.h"

#include "segmentguard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {
std::string Refusal(const std::string& strWhy)
{
    return "refusing to open a socket: " + strWhy +
           "; this test sends to port 8400 and must run inside a private network segment "
           "(tools/private-segment COMMAND...)";
}
} // namespace

bool InPrivateSegment()
{
    return SegmentRefusal().empty();
}

bool RequirePrivateSegment()
{
    const std::string strWhy = SegmentRefusal();
    if (strWhy.empty())
        return true;
    ADD_FAILURE() << Refusal(strWhy);
    return false;
}

void RequirePrivateSegmentOrExit()
{
    const std::string strWhy = SegmentRefusal();
    if (strWhy.empty())
        return;
    std::fprintf(stderr, "%s\n", Refusal(strWhy).c_str());
    std::exit(3);
}
