// Command line of norvane-sim.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

enum class EMacFormat { Colon, Dash, Bare, Dotted };

struct CSimOptions {
    int m_nCount = 3;
    std::uint32_t m_nFirstIp = 0x0AC80101; // 10.200.1.1, host order
    int m_nFirstIndex = 0;                 // identity (MAC, serial, image) of the first
    std::vector<std::uint32_t> m_vecExtraIps;
    bool m_bPassword = false;              // false: any password is accepted
    std::string m_strPassword;
    std::string m_strUser = "admin";
    std::int32_t m_nWebPort = 80;
    double m_dSeconds = 0; // 0: until interrupted
    double m_dRebootSeconds = 3;
    EMacFormat m_eMacFormat = EMacFormat::Colon;
    bool m_bSetIpAckFromNew = false; // false: the ack leaves from the old address
    bool m_bSetIpNoMove = false;     // acknowledge a set-ip but keep the address
    bool m_bSameIp = false;          // every one of --count at --first-ip
    std::vector<std::pair<int, int>> m_vecAbsent; // first and last index of appliances absent at the start
    std::string m_strControl;        // file of control lines; "-": standard input

    // Faults
    std::map<int, int> m_mapStatus; // request type -> status that replaces the action
    bool m_bShortStatus = false;
    int m_nLoseFirst = 0;  // requests each appliance loses before it hears one
    int m_nLoseType = -1;  // of this type; -1: of every type but discovery
    double m_dDrop = 0;
    std::uint64_t m_nSeed = 1;
    int m_nDelayMs = 0;
    bool m_bTruncate = false;
    bool m_bOversize = false;
    bool m_bGarbage = false;
    bool m_bWrongPort = false;
    long m_nUnsolicited = 0;
    long m_nFlood = 0;
    bool m_bUnsolicitedTo = false;
    std::uint32_t m_nUnsolicitedIp = 0;
    std::uint16_t m_nUnsolicitedPort = 0;

    std::string m_strLog;
    bool m_bLogTimes = false;
    std::string m_strDumpDir;
    bool m_bVerbose = false;
};

enum class EParse { Run, Help, Error };

// "I" or "I-J", 0 <= I <= J <= 1000000: appliance indexes, both ends included.
bool ParseRange(std::string_view text, int& nFirst, int& nLast);

// Prints the usage on --help and the reason on an error.
EParse ParseOptions(int argc, char** argv, CSimOptions& opts);
