#include "control.h"

#include "appliances.h"
#include "ipv4.h"

#include <charconv>
#include <vector>

namespace {

constexpr std::size_t SERIAL_SIZE = sizeof(DeviceInfoBody::serial);

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::vector<std::string_view> Words(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t k = 0;
    while (k < line.size()) {
        if (IsBlank(line[k])) {
            ++k;
            continue;
        }
        const std::size_t nStart = k;
        while (k < line.size() && !IsBlank(line[k]))
            ++k;
        words.push_back(line.substr(nStart, k - nStart));
    }
    return words;
}

bool ParseCount(std::string_view text, int nMax, int& n)
{
    const char* pEnd = text.data() + text.size();
    const auto result = std::from_chars(text.data(), pEnd, n);
    return result.ec == std::errc() && result.ptr == pEnd && n >= 0 && n <= nMax;
}

// The appliances a RANGE names, all of which must exist.
bool ParseTableRange(std::string_view text, const CApplianceTable& table, int& nFirst, int& nLast,
                     std::string& strError)
{
    if (!ParseRange(text, nFirst, nLast)) {
        strError = "bad range";
        return false;
    }
    if (nLast >= table.Count()) {
        strError = "no appliance " + std::to_string(nLast) + " (there are " + std::to_string(table.Count()) + ")";
        return false;
    }
    return true;
}

} // namespace

EControl ApplyControl(std::string_view line, CApplianceTable& table, std::string& strError)
{
    const std::vector<std::string_view> words = Words(line);
    if (words.empty() || words[0].starts_with('#'))
        return EControl::Ignored;
    const std::string_view command = words[0];
    const auto fail = [&](std::string strWhy) {
        strError = std::move(strWhy);
        return EControl::Error;
    };
    int nFirst = 0, nLast = 0, n = 0;

    if (command == "forge") {
        if (words.size() != 2 || !ParseCount(words[1], 100000, n))
            return fail("expected forge N (0..100000)");
        table.Forge(n);
        return EControl::Applied;
    }
    if (command == "claim") {
        std::uint32_t nIp = 0, nFromIp = 0;
        if (words.size() == 2 && words[1] == "off") {
            table.Claim(0, 0, 0);
            return EControl::Applied;
        }
        if (words.size() != 4 || !ParseIp(words[2], nIp) || !ParseIp(words[3], nFromIp))
            return fail("expected claim I A.B.C.D FROM, or claim off");
        if (!ParseTableRange(words[1], table, nFirst, nLast, strError))
            return EControl::Error;
        if (nFirst != nLast)
            return fail("claim takes one appliance");
        table.Claim(nFirst, nIp, nFromIp);
        return EControl::Applied;
    }
    if (command == "move") {
        std::uint32_t nIp = 0;
        if (words.size() != 3 || !ParseIp(words[2], nIp))
            return fail("expected move I A.B.C.D");
        if (!ParseTableRange(words[1], table, nFirst, nLast, strError))
            return EControl::Error;
        if (nFirst != nLast)
            return fail("move takes one appliance");
        if (const char* pszWhy = table.MoveRefusal(nFirst, nIp))
            return fail(pszWhy);
        table.Move(nFirst, nIp);
        return EControl::Applied;
    }

    // The others name a RANGE: what each of its appliances is to do.
    std::function<void(int)> apply;
    if (command == "leave" || command == "appear") {
        if (words.size() != 2)
            return fail("expected " + std::string(command) + " RANGE");
        const bool bPresent = command == "appear";
        apply = [&table, bPresent](int i) { table.SetPresent(i, bPresent); };
    } else if (command == "skip") {
        if (words.size() != 3 || !ParseCount(words[2], 1000000, n))
            return fail("expected skip RANGE N");
        apply = [&table, n](int i) { table.SkipDiscoveries(i, n); };
    } else if (command == "serial") {
        if (words.size() < 3)
            return fail("expected serial RANGE TEXT");
        // The rest of the line, spaces inside included.
        std::string_view serial = line.substr(std::size_t(words[2].data() - line.data()));
        while (IsBlank(serial.back()))
            serial.remove_suffix(1);
        if (serial.size() > SERIAL_SIZE)
            return fail("serial longer than " + std::to_string(SERIAL_SIZE) + " bytes");
        apply = [&table, serial](int i) { table.SetSerial(i, std::string(serial)); };
    } else {
        return fail("unknown command");
    }
    if (!ParseTableRange(words[1], table, nFirst, nLast, strError))
        return EControl::Error;
    for (int i = nFirst; i <= nLast; ++i)
        apply(i);
    return EControl::Applied;
}

void CLineSplitter::Feed(std::string_view bytes, const LineFn& onLine)
{
    while (!bytes.empty()) {
        const std::size_t nEnd = bytes.find('\n');
        const std::string_view part = bytes.substr(0, nEnd);
        const std::size_t nRoom = MAX_LINE + 1 - m_strLine.size(); // one more, for a '\r' to drop
        m_strLine.append(part.substr(0, nRoom));
        m_bTooLong = m_bTooLong || part.size() > nRoom;
        if (nEnd == std::string_view::npos)
            return;
        Finish(onLine);
        bytes.remove_prefix(nEnd + 1);
    }
}

void CLineSplitter::Finish(const LineFn& onLine)
{
    if (!m_strLine.empty() && m_strLine.back() == '\r')
        m_strLine.pop_back();
    if (m_strLine.size() > MAX_LINE) {
        m_strLine.resize(MAX_LINE);
        m_bTooLong = true;
    }
    if (!m_strLine.empty() || m_bTooLong)
        onLine(m_strLine, m_bTooLong);
    m_strLine.clear();
    m_bTooLong = false;
}
