// The control lines of norvane-sim (--control): what each changes in the
// table. No file or socket here; main.cpp reads the lines and reports.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

class CApplianceTable;

enum class EControl { Ignored, Applied, Error };

// Applies one line (without its end). Blank lines and # comments are
// Ignored; on an Error nothing has changed and strError says why.
EControl ApplyControl(std::string_view line, CApplianceTable& table, std::string& strError);

// Cuts what is read into lines at each '\n', a '\r' before it dropped.
class CLineSplitter {
public:
    static constexpr std::size_t MAX_LINE = 4096;
    // A whole line; a longer one than MAX_LINE comes cut there, bTooLong set.
    using LineFn = std::function<void(std::string_view line, bool bTooLong)>;

    void Feed(std::string_view bytes, const LineFn& onLine);
    // At the end of the input: a last line without its '\n'.
    void Finish(const LineFn& onLine);

private:
    std::string m_strLine;
    bool m_bTooLong = false;
};
