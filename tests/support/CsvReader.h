#pragma once

#include <string>
#include <vector>

namespace sonavel::fakes {

// Reads CSV as RFC 4180 has it: records end with CR LF, a quoted field may hold
// commas, line breaks and doubled quotes.
inline std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"' && quoted && i + 1 < text.size() && text[i + 1] == '"')
            records.back().back() += text[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ',')
            records.back().emplace_back();
        else if (!quoted && c == '\r' && text.compare(i, 2, "\r\n") == 0 && ++i)
            records.emplace_back(1);
        else
            records.back().back() += c;
    }
    records.pop_back(); // after the last line end
    return records;
}

} // namespace sonavel::fakes
