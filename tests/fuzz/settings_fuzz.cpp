// libFuzzer target for the settings-file reader. Whatever the file holds, the
// reader must neither crash nor leak, and what it accepted must survive a save
// and a second load unchanged.
#include "settings/clsSettings.h"
#include "startup/AppError.h"
#include "startup/clsErrorHandler.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

std::string TempPath(const char* what) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/sonavel-fuzz-" + std::to_string(getpid()) +
           "-" + what;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sonavel;
    static const std::string input = TempPath("input.dat");
    static const std::string saved = TempPath("saved.dat");
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    clsErrorHandler err;
    clsSettings settings;
    settings.MyErr = &err;
    try {
        settings.LoadFromDisk(input);
    } catch (const AppError& e) {
        if (e.Code() != 9999 || err.ErrorDetails().empty())
            std::abort(); // a rejected file must come with its report
    }

    // Whatever was accepted is written out and must read back cleanly, and
    // writing it again must give the same bytes.
    settings.SaveToDisk(saved);
    const std::string first = ReadAll(saved);
    clsErrorHandler err2;
    clsSettings again;
    again.MyErr = &err2;
    try {
        again.LoadFromDisk(saved);
    } catch (const AppError&) {
        std::fputs(err2.ErrorDetails().c_str(), stderr);
        std::abort();
    }
    again.SaveToDisk(saved);
    if (ReadAll(saved) != first)
        std::abort();
    return 0;
}
