#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace sonavel {

// The text of the settings file, kept apart from clsSettings so that each rule
// can be checked on its own. Blanks are spaces and tabs.

std::string_view TrimBlanks(std::string_view text);

// Reads text as a decimal number: blanks, an optional sign, digits with an
// optional fraction ("12", "-0", "1.", ".5"), an optional exponent ("1e3"),
// blanks. Everything else is not a number: empty text, "NaN", "inf", "&H10",
// "0x10", "1,000", "12abc". A number too large for a double becomes infinity and
// one too small becomes zero, each with its sign. The decimal point is always
// "." whatever the locale.
bool ParseNumber(std::string_view text, double& value);

// True when text is a number (as ParseNumber reads it) from low to high, both
// included.
bool IsInRange(std::string_view text, double low, double high);

// The conversion of one element of a selected-intervals list to a 16-bit integer.
enum class Int16Conversion { Done, NotANumber, Overflow };
Int16Conversion ToInt16(std::string_view text, int16_t& result);

// Splits "Key=Value" at the "=" signs: key before the first, value between the
// first and the second; nothing is trimmed. Returns false for a syntax error: no
// "=", or an empty key or value.
bool ParseSettingLine(std::string_view line, std::string& key, std::string& value);

int16_t BoolToInt(bool value);
bool IntToBool(int16_t value); // true for values above 0

// List values: elements joined by "," with nothing added.
std::vector<std::string> SplitList(std::string_view value);
std::string JoinList(const std::vector<std::string>& items);
std::string JoinBools(const std::vector<bool>& items);

// Hands out the lines of a stream one by one. A line ends with CR LF, CR alone
// or LF alone (the terminator is not part of it); the last line needs none.
// Reading more than maxBytes throws AppError with EFBIG.
class SettingsLineReader {
public:
    SettingsLineReader(std::istream& in, std::size_t maxBytes);
    bool Next(std::string& line);

private:
    std::istream& m_in;
    std::size_t m_maxBytes;
    std::size_t m_read = 0;
};

// Replaces the file at path by one holding contents, so that at every moment the
// path names either the complete old file or the complete new one: the text goes
// to the temporary file path + ".tmp", is flushed to the disk and then renamed
// over the old file, with the old file's owner, group and permissions. Links at
// path are followed to their final target, which is created when missing. A
// temporary file left by a save that was cut short is replaced; one that another
// save is writing is waited for, up to five seconds (then EBUSY). An existing
// file that this user may not write is left alone (EACCES), as is anything but
// a regular file. Where no temporary file can be made or given the old file's
// owner for lack of permission, the existing file is written in place instead.
// Throws AppError with the system's error number and a text naming the file; the
// temporary file is removed on failure.
void WriteFileAtomically(const std::string& path, const std::string& contents);

// Reads the regular file at path, links followed, into contents: all of it, or
// more than maxBytes when it is longer. Returns false when there is no file.
// Never blocks on a named pipe. Throws AppError naming the path and the reason
// when it cannot be read or is not a regular file.
bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& contents);

} // namespace sonavel
