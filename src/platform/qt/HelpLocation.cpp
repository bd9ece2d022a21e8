#include "platform/qt/HelpLocation.h"

#include <QCoreApplication>
#include <filesystem>
#include <system_error>

namespace sonavel {

std::string HelpIndexPath(const std::string& programDir) {
    const std::filesystem::path dir(programDir);
    const std::filesystem::path candidates[] = {
        dir / "help" / "index.htm",
        (dir / ".." / "share" / "sonavel" / "help" / "index.htm").lexically_normal(),
    };
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error))
            return candidate.string();
    }
    return candidates[0].string();
}

std::string HelpIndexPath() {
    return HelpIndexPath(QCoreApplication::applicationDirPath().toStdString());
}

} // namespace sonavel
