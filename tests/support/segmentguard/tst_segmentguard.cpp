// The guard of every program that sends: its verdict on the facts of each
// kind of namespace, and, run by ctest on the host and inside each kind of
// segment (as root, and as an ordinary user where ctest runs as root), on
// the namespace it runs in. It sends nothing.
#include "privatesegment.h"
#include "segmentguard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace {

enum class EWhere { Unsaid, Inside, Outside };
EWhere g_where = EWhere::Unsaid;

constexpr unsigned long long HOST = 4026531833, SEGMENT = 4026532239;
const SegmentFacts::Interface LO{"lo", true, ""}, VETH{"ca", false, "veth"}, ETH{"eth0", false, "virtio_net"},
    TUN{"tap0", false, "tun"}, UNKNOWN{"eth1", false, ""};

std::string Describe(const SegmentFacts& facts)
{
    std::ostringstream out;
    out << "own " << facts.nOwnNet << ", init " << facts.nInitNet << ", outer " << facts.nOuterNet
        << ", initial user namespace " << facts.bInitialUserNs << ", own user namespace's " << facts.bNetOfOwnUserNs
        << ", interfaces";
    for (const SegmentFacts::Interface& iface : facts.interfaces)
        out << ' ' << iface.strName << '(' << (iface.bLoopback ? "loopback" : iface.strDriver) << ')';
    return out.str();
}

TEST(SegmentGuard, RefusesTheHostAndWhatMayLeadOffTheMachine)
{
    const struct {
        const char* pszCase;
        SegmentFacts facts;
        bool bInside;
    } cases[] = {
        {"root, private segment", {SEGMENT, 0, HOST, true, true, {LO}}, true},
        {"root, routed or multi segment", {SEGMENT, 0, HOST, true, true, {LO, VETH, VETH}}, true},
        {"user, private segment (unshare -rn)", {SEGMENT, 0, 0, false, true, {LO}}, true},
        {"user, routed segment, a shell inside above", {SEGMENT, 0, SEGMENT, false, true, {LO, VETH}}, true},
        {"root, the host", {HOST, 0, HOST, true, true, {LO, ETH}}, false},
        {"root, the host, init readable", {HOST, HOST, HOST, true, true, {LO, ETH}}, false},
        {"root, the host, nothing above readable", {HOST, 0, 0, true, true, {LO, ETH}}, false},
        {"root, a host of loopback alone", {HOST, 0, HOST, true, true, {LO}}, false},
        {"user, the host from a user namespace (unshare -r)", {HOST, 0, 0, false, false, {LO, ETH}}, false},
        {"root of a container, its namespace init's", {SEGMENT, SEGMENT, 0, false, true, {LO, VETH}}, false},
        {"a namespace with a real interface moved in", {SEGMENT, 0, HOST, true, true, {LO, ETH}}, false},
        {"a namespace with a tunnel out", {SEGMENT, 0, 0, false, true, {LO, TUN}}, false},
        {"an interface whose driver is unknown", {SEGMENT, 0, HOST, true, true, {LO, UNKNOWN}}, false},
        {"own namespace unreadable", {0, 0, HOST, true, true, {LO}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        const std::string strWhy = JudgeSegment(c.facts);
        EXPECT_EQ(strWhy.empty(), c.bInside) << strWhy;
    }
}

TEST(SegmentGuard, JudgesWhereItRuns)
{
    if (g_where == EWhere::Unsaid)
        GTEST_SKIP() << "run with --inside or --outside";
    const SegmentFacts facts = ReadSegmentFacts();
    const std::string strWhy = JudgeSegment(facts);
    EXPECT_EQ(strWhy.empty(), g_where == EWhere::Inside) << strWhy << "; " << Describe(facts);
    EXPECT_EQ(SegmentRefusal(), strWhy);
    std::printf("%s: %s\n", strWhy.empty() ? "inside" : strWhy.c_str(), Describe(facts).c_str());
    if (g_where == EWhere::Outside) {
        EXPECT_EXIT(RequirePrivateSegmentOrExit(), testing::ExitedWithCode(3), "refusing to open a socket: ");
    }
}

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--inside") == 0)
            g_where = EWhere::Inside;
        else if (std::strcmp(argv[i], "--outside") == 0)
            g_where = EWhere::Outside;
    }
    return RUN_ALL_TESTS();
}
