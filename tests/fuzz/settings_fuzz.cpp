// libFuzzer target for the settings-file reader. Whatever the file holds, the reader must
// neither crash nor leak, a rejected file comes with its report, and what it accepted must
// survive a save and a second load unchanged.
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sonavel;
    const char* dir = std::getenv("TMPDIR");
    static const std::string base =
        std::string(dir && *dir ? dir : "/tmp") + "/sonavel-fuzz-" + std::to_string(getpid());
    static const std::string input = base + "-input.dat", saved = base + "-saved.dat";
    std::ofstream(input, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    auto saveAndRead = [](clsSettings& s) {
        s.SaveToDisk(saved);
        std::ifstream in(saved, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    clsErrorHandler err, err2;
    clsSettings settings, again;
    settings.MyErr = &err;
    again.MyErr = &err2;
    try {
        settings.LoadFromDisk(input);
    } catch (const AppError& e) {
        if (e.Code() != 9999 || err.ErrorDetails().empty())
            std::abort();
    }
    const std::string first = saveAndRead(settings);
    try {
        again.LoadFromDisk(saved);
    } catch (const AppError&) {
        std::abort(); // what was saved must read back without a complaint
    }
    if (saveAndRead(again) != first)
        std::abort();
    return 0;
}
