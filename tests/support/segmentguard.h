// The one check made before sending by every test, fixture, benchmark and
// fuzzer, and by norvane-sim: they run only inside a network namespace that
// tools/private-segment, tools/support/routed-segment or tools/support/multi-segment made,
// never in the host's own, whatever the environment says. Plain C++, as
// norvane-sim links no Qt; nothing in protocol/, window/ or cli/ links it.
#pragma once

#include <string>
#include <vector>

// Why this process must not send from where it is; empty inside a segment.
std::string SegmentRefusal();

// What the Linux check reads, and its verdict on it.
struct SegmentFacts {
    // Inode numbers of network namespaces (/proc/PID/ns/net); 0 when unreadable.
    unsigned long long nOwnNet = 0;
    unsigned long long nInitNet = 0;
    // That of the outermost ancestor this process may read.
    unsigned long long nOuterNet = 0;
    // The user namespace is the machine's first (every uid mapped to itself).
    bool bInitialUserNs = true;
    // The network namespace belongs to this process's own user namespace.
    bool bNetOfOwnUserNs = false;
    struct Interface {
        std::string strName;
        bool bLoopback = false;
        std::string strDriver; // as ethtool names it: "veth", "virtio_net"...
    };
    std::vector<Interface> interfaces;
};
SegmentFacts ReadSegmentFacts();
std::string JudgeSegment(const SegmentFacts& facts);
