#include "segmentguard.h"

#include <fcntl.h>
#include <linux/ethtool.h>
#include <linux/nsfs.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace {
unsigned long long Inode(const std::string& strPath)
{
    struct stat st {};
    return stat(strPath.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Another process's namespace is readable only where ptrace could read it:
// not from inside a user namespace of our own, and not a guarded init.
unsigned long long NetNamespaceOf(const std::string& strPid)
{
    return Inode("/proc/" + strPid + "/ns/net");
}

bool InitialUserNamespace()
{
    std::ifstream map("/proc/self/uid_map");
    unsigned long long nInside = 1, nOutside = 1, nCount = 0;
    std::string strMore;
    map >> nInside >> nOutside >> nCount >> strMore;
    return nInside == 0 && nOutside == 0 && nCount == 4294967295ull && strMore.empty();
}

bool NetOfOwnUserNamespace()
{
    // Fails where the owner is beyond our reach, as the host's is from
    // inside a user namespace made without a network namespace.
    const int fdNet = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int fdOwner = fdNet < 0 ? -1 : ioctl(fdNet, NS_GET_USERNS);
    struct stat st {};
    const bool bOwn = fdOwner >= 0 && fstat(fdOwner, &st) == 0 && st.st_ino == Inode("/proc/self/ns/user");
    if (fdOwner >= 0)
        close(fdOwner);
    if (fdNet >= 0)
        close(fdNet);
    return bOwn;
}

long ParentOf(long nPid)
{
    std::ifstream file("/proc/" + std::to_string(nPid) + "/stat");
    std::string strLine;
    std::getline(file, strLine);
    // The name before the state may hold spaces and parentheses.
    const std::size_t nEnd = strLine.rfind(')');
    if (nEnd == std::string::npos)
        return 0;
    std::istringstream rest(strLine.substr(nEnd + 1));
    std::string strState;
    long nParent = 0;
    rest >> strState >> nParent;
    return nParent;
}

std::vector<SegmentFacts::Interface> ReadInterfaces()
{
    std::vector<SegmentFacts::Interface> interfaces;
    // A local socket: its ioctls ask this namespace's devices, and it can
    // never carry a datagram off the machine.
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct if_nameindex* pNames = if_nameindex();
    if (fd < 0 || !pNames) {
        // Unknown interfaces count as real ones.
        interfaces.push_back({"(interfaces unreadable)", false, {}});
    } else {
        for (const struct if_nameindex* p = pNames; p->if_index != 0; ++p) {
            SegmentFacts::Interface iface{p->if_name, false, {}};
            ifreq request{};
            std::strncpy(request.ifr_name, p->if_name, IFNAMSIZ - 1);
            if (ioctl(fd, SIOCGIFFLAGS, &request) == 0)
                iface.bLoopback = (request.ifr_flags & IFF_LOOPBACK) != 0;
            ethtool_drvinfo info{};
            info.cmd = ETHTOOL_GDRVINFO;
            request.ifr_data = reinterpret_cast<char*>(&info);
            if (ioctl(fd, SIOCETHTOOL, &request) == 0)
                iface.strDriver.assign(info.driver, strnlen(info.driver, sizeof info.driver));
            interfaces.push_back(iface);
        }
    }
    if (pNames)
        if_freenameindex(pNames);
    if (fd >= 0)
        close(fd);
    return interfaces;
}
} // namespace

SegmentFacts ReadSegmentFacts()
{
    SegmentFacts facts;
    facts.nOwnNet = NetNamespaceOf("self");
    facts.nInitNet = NetNamespaceOf("1");
    for (long nPid = getppid(); nPid > 0; nPid = ParentOf(nPid))
        if (const unsigned long long nNet = NetNamespaceOf(std::to_string(nPid)))
            facts.nOuterNet = nNet;
    facts.bInitialUserNs = InitialUserNamespace();
    facts.bNetOfOwnUserNs = NetOfOwnUserNamespace();
    facts.interfaces = ReadInterfaces();
    return facts;
}

std::string JudgeSegment(const SegmentFacts& facts)
{
    if (facts.nOwnNet == 0)
        return "this process's network namespace cannot be read";
    if (facts.nOwnNet == facts.nInitNet)
        return "this is the network namespace of init, the host's own";
    if (facts.bInitialUserNs) {
        // Made by root (unshare -n): the caller outside, which root can
        // read, stands in another namespace, the host's.
        if (facts.nOuterNet == 0)
            return "no process above this one can be read, so nothing shows which network namespace is the "
                   "host's";
        if (facts.nOuterNet == facts.nOwnNet)
            return "this is the host's own network namespace";
    } else if (!facts.bNetOfOwnUserNs) {
        // Made by an ordinary user (unshare -rn), the network namespace
        // belongs to the user namespace made with it; the host's never does.
        return "this is the host's own network namespace, entered from a user namespace";
    }
    // Our scripts join their namespaces by veth pairs only; a device of any
    // other kind (the host's eth0, a tunnel, a bridge) may lead off the machine.
    for (const SegmentFacts::Interface& iface : facts.interfaces)
        if (!iface.bLoopback && iface.strDriver != "veth")
            return "interface " + iface.strName + " is neither loopback nor one end of a veth pair";
    return {};
}

std::string SegmentRefusal()
{
    return JudgeSegment(ReadSegmentFacts());
}
