// IPv4 addresses as host-order numbers, so the next appliance is "+ 1".
#pragma once

#include <arpa/inet.h>

#include <cstdint>
#include <string>
#include <string_view>

constexpr std::uint32_t IPV4_BROADCAST = 0xFFFFFFFFu;

// Strict dotted quad only ("10.200.1.1"); no short forms, no leading zeros.
inline bool ParseIp(std::string_view text, std::uint32_t& nIp)
{
    const std::string str(text); // inet_pton wants a terminated string
    in_addr addr{};
    if (inet_pton(AF_INET, str.c_str(), &addr) != 1)
        return false;
    nIp = ntohl(addr.s_addr);
    return true;
}

inline std::string IpText(std::uint32_t nIp)
{
    return std::to_string(nIp >> 24) + '.' + std::to_string((nIp >> 16) & 0xFF) + '.' +
           std::to_string((nIp >> 8) & 0xFF) + '.' + std::to_string(nIp & 0xFF);
}
