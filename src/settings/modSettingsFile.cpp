#include "settings/modSettingsFile.h"

#include "engine/modGeneral.h"
#include "startup/AppError.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace sonavel {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// from_chars leaves the value alone when it does not fit a double, so the
// direction is read from the text: the power of ten of the first significant
// digit tells overflow from underflow. The exponent saturates rather than wraps.
double OutOfRangeValue(std::string_view intDigits, std::string_view fracDigits,
                       std::string_view exponent, bool negative) {
    long long exp = 0;
    bool expNegative = false;
    std::size_t i = 0;
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
        expNegative = exponent[0] == '-';
        i = 1;
    }
    for (; i < exponent.size(); ++i) {
        if (exp < 1'000'000'000)
            exp = exp * 10 + (exponent[i] - '0');
    }
    if (expNegative)
        exp = -exp;
    long long magnitude = 0;
    auto firstInt = intDigits.find_first_not_of('0');
    if (firstInt != std::string_view::npos) {
        magnitude = static_cast<long long>(intDigits.size() - firstInt) - 1;
    } else {
        auto firstFrac = fracDigits.find_first_not_of('0');
        magnitude =
            firstFrac == std::string_view::npos ? 0 : -static_cast<long long>(firstFrac) - 1;
    }
    double result = magnitude + exp >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -result : result;
}

[[noreturn]] void ThrowFileError(int error, const std::string& what) {
    throw AppError(NarrowCode(error), what + ": " + std::generic_category().message(error));
}

// Only a regular file is read or replaced: a device, a pipe or a socket at the
// settings path is someone's mistake, and writing to it could do harm.
[[noreturn]] void ThrowNotARegularFile(const std::string& what, mode_t mode) {
    const char* kind = S_ISDIR(mode)                    ? "a folder, "
                       : S_ISFIFO(mode)                 ? "a named pipe, "
                       : S_ISSOCK(mode)                 ? "a socket, "
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device, "
                                                        : "";
    throw AppError(NarrowCode(S_ISDIR(mode) ? EISDIR : EINVAL),
                   what + ": it is " + kind + "not a regular file");
}

// True while path still names the file open as fd.
bool IsFileAt(int fd, const std::string& path) {
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && ::stat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Creates the temporary file of a save and locks it for the save's duration. A
// temporary file that is already there was left by a save cut short (by a
// crash or a kill) and is replaced, unless another save holds its lock: then
// errno is EBUSY.
int OpenTemporaryFile(const std::string& temp) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && IsFileAt(fd, temp))
                return fd;
            ::close(fd);
            errno = EBUSY;
            return -1;
        }
        if (errno != EEXIST)
            return -1;
        const int stale = ::open(temp.c_str(), O_WRONLY | O_CLOEXEC);
        if (stale < 0) {
            if (errno == ENOENT)
                continue;
            return -1;
        }
        if (::flock(stale, LOCK_EX | LOCK_NB) != 0) {
            ::close(stale);
            errno = EBUSY;
            return -1;
        }
        if (IsFileAt(stale, temp))
            ::unlink(temp.c_str());
        ::close(stale);
    }
    errno = EBUSY;
    return -1;
}

// A save that finds another save's lock waits for it, since two copies of the
// program ended together (as at a logout) both save; the wait is bounded so a
// save never hangs the program's end.
int OpenTemporaryFileWaiting(const std::string& temp) {
    using namespace std::chrono;
    const auto giveUp = steady_clock::now() + seconds(5);
    for (;;) {
        const int fd = OpenTemporaryFile(temp);
        if (fd >= 0 || errno != EBUSY || steady_clock::now() >= giveUp)
            return fd;
        std::this_thread::sleep_for(milliseconds(5));
    }
}

bool WriteAll(int fd, const std::string& contents) {
    std::size_t written = 0;
    while (written < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0;
}

// The plain write, for when no temporary file can stand beside the target (a
// folder the user may not write to, a file whose owner cannot be given to the
// copy): a save cut short then leaves the file partly written.
void WriteInPlace(const std::string& target, const std::string& contents) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        ThrowFileError(errno, "Cannot write " + target);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        ThrowNotARegularFile("Cannot write " + target, info.st_mode);
    }
    if (::ftruncate(fd, 0) != 0 || !WriteAll(fd, contents)) {
        const int error = errno;
        ::close(fd);
        ThrowFileError(error, "Cannot write " + target);
    }
    ::close(fd);
}

// Follows links to the last one's target, which need not exist yet.
std::string FinalTarget(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        char link[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), link, sizeof link);
        if (n < 0)
            return path;
        const std::filesystem::path next(std::string(link, static_cast<std::size_t>(n)));
        path = next.is_absolute() ? next.string()
                                  : (std::filesystem::path(path).parent_path() / next).string();
    }
    ThrowFileError(ELOOP, "Cannot follow the links at " + path);
}

} // namespace

std::string_view TrimBlanks(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

bool ParseNumber(std::string_view text, double& value) {
    std::string_view s = TrimBlanks(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    const std::size_t bodyStart = i;
    const std::size_t intStart = i;
    while (i < s.size() && IsDigit(s[i]))
        ++i;
    std::string_view intDigits = s.substr(intStart, i - intStart);
    std::string_view fracDigits;
    if (i < s.size() && s[i] == '.') {
        const std::size_t fracStart = ++i;
        while (i < s.size() && IsDigit(s[i]))
            ++i;
        fracDigits = s.substr(fracStart, i - fracStart);
    }
    if (intDigits.empty() && fracDigits.empty())
        return false;
    std::string_view exponent;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        const std::size_t expStart = ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        const std::size_t digitsStart = i;
        while (i < s.size() && IsDigit(s[i]))
            ++i;
        if (i == digitsStart)
            return false;
        exponent = s.substr(expStart, i - expStart);
    }
    if (i != s.size())
        return false;

    double parsed = 0.0;
    const char* first = s.data() + bodyStart;
    const char* last = s.data() + s.size();
    auto [ptr, ec] = std::from_chars(first, last, parsed, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        value = OutOfRangeValue(intDigits, fracDigits, exponent, negative);
        return true;
    }
    if (ec != std::errc() || ptr != last)
        return false;
    value = negative ? -parsed : parsed;
    return true;
}

bool IsInRange(std::string_view text, double low, double high) {
    double value = 0.0;
    return ParseNumber(text, value) && low <= value && value <= high;
}

Int16Conversion ToInt16(std::string_view text, int16_t& result) {
    double value = 0.0;
    if (!ParseNumber(text, value))
        return Int16Conversion::NotANumber;
    const double rounded = RoundHalfEven(value);
    if (!(rounded >= std::numeric_limits<int16_t>::min() &&
          rounded <= std::numeric_limits<int16_t>::max()))
        return Int16Conversion::Overflow;
    result = static_cast<int16_t>(rounded);
    return Int16Conversion::Done;
}

bool ParseSettingLine(std::string_view line, std::string& key, std::string& value) {
    const auto first = line.find('=');
    if (first == std::string_view::npos) {
        key.clear();
        value.clear();
        return false;
    }
    const auto second = line.find('=', first + 1);
    key = std::string(line.substr(0, first));
    value = std::string(line.substr(
        first + 1, second == std::string_view::npos ? std::string_view::npos : second - first - 1));
    return !key.empty() && !value.empty();
}

int16_t BoolToInt(bool value) {
    return value ? 1 : 0;
}

bool IntToBool(int16_t value) {
    return value > 0;
}

std::vector<std::string> SplitList(std::string_view value) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
        const auto comma = value.find(',', start);
        if (comma == std::string_view::npos) {
            items.emplace_back(value.substr(start));
            return items;
        }
        items.emplace_back(value.substr(start, comma - start));
        start = comma + 1;
    }
}

std::string JoinList(const std::vector<std::string>& items) {
    std::string joined;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            joined += ',';
        joined += items[i];
    }
    return joined;
}

std::string JoinBools(const std::vector<bool>& items) {
    std::string joined;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            joined += ',';
        joined += items[i] ? '1' : '0';
    }
    return joined;
}

SettingsLineReader::SettingsLineReader(std::istream& in, std::size_t maxBytes)
    : m_in(in), m_maxBytes(maxBytes) {}

bool SettingsLineReader::Next(std::string& line) {
    using Traits = std::istream::traits_type;
    line.clear();
    std::streambuf* buffer = m_in.rdbuf();
    auto take = [&] {
        const auto c = buffer->sbumpc();
        if (!Traits::eq_int_type(c, Traits::eof()) && ++m_read > m_maxBytes)
            throw AppError(NarrowCode(EFBIG), "The settings file is larger than " +
                                                  std::to_string(m_maxBytes) + " bytes");
        return c;
    };
    auto c = take();
    if (Traits::eq_int_type(c, Traits::eof()))
        return false;
    for (; !Traits::eq_int_type(c, Traits::eof()); c = take()) {
        if (c == '\n')
            return true;
        if (c == '\r') {
            if (Traits::eq_int_type(buffer->sgetc(), '\n'))
                take();
            return true;
        }
        line.push_back(Traits::to_char_type(c));
    }
    return true;
}

void WriteFileAtomically(const std::string& path, const std::string& contents) {
    // The file a link names is the settings file; a dangling link's file is created.
    const std::string target = FinalTarget(path);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        ThrowNotARegularFile("Cannot replace " + target, old.st_mode);
    // Replacing needs only the folder's permission, but a file its owner made
    // read-only must stay as it is, as a plain write would leave it.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        ThrowFileError(errno, "Cannot write " + target);

    const std::string temp = target + ".tmp";
    const int fd = OpenTemporaryFileWaiting(temp);
    if (fd < 0) {
        const int error = errno;
        if (error == EBUSY)
            ThrowFileError(error, "Another save of " + target + " is in progress");
        // A folder the user may not add files to, holding a file they may write.
        if (exists && (error == EACCES || error == EPERM))
            return WriteInPlace(target, contents);
        ThrowFileError(error, "Cannot create a temporary file beside " + target);
    }

    auto fail = [&](int error, const std::string& what) {
        ::unlink(temp.c_str());
        ::close(fd);
        ThrowFileError(error, what);
    };

    // The file being replaced keeps its owner, group and permissions: a save
    // by root must not leave the user a file they cannot read.
    if (exists) {
        struct stat made {};
        if (::fstat(fd, &made) == 0 && (made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
            ::fchown(fd, old.st_uid, old.st_gid) != 0) {
            ::unlink(temp.c_str());
            ::close(fd);
            return WriteInPlace(target, contents);
        }
        ::fchmod(fd, old.st_mode & 07777);
    }

    if (!WriteAll(fd, contents))
        fail(errno, "Cannot write " + temp);
    // Renamed while still locked, so no other save can have taken its place.
    if (!IsFileAt(fd, temp)) {
        ::close(fd);
        ThrowFileError(EBUSY, "Another save of " + target + " is in progress");
    }
    if (::rename(temp.c_str(), target.c_str()) != 0)
        fail(errno, "Cannot replace " + target);
    ::close(fd);

    // The rename itself reaches the disk only with the folder's entry.
    const std::filesystem::path folder = std::filesystem::path(target).parent_path();
    const int dir =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& contents) {
    contents.clear();
    // O_NONBLOCK: a named pipe must not hold the start-up in open().
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return false;
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
            ThrowNotARegularFile("Cannot read " + path, info.st_mode);
        ThrowFileError(errno, "Cannot read " + path);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = errno;
        ::close(fd);
        if (info.st_mode == 0)
            ThrowFileError(error, "Cannot read " + path);
        ThrowNotARegularFile("Cannot read " + path, info.st_mode);
    }
    char buffer[65536];
    while (contents.size() <= maxBytes) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            ThrowFileError(error, "Cannot read " + path);
        }
        if (n == 0)
            break;
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

} // namespace sonavel
