// A save cut short at any moment, by a crash or a power cut, must leave the
// settings file either as it was or as it was being written: never empty,
// never half of each. A child process saves two different settings in turn
// without pause and is killed at random moments in between.
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace sonavel;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string SaveToString(const clsSettings& settings, const fs::path& path) {
    settings.SaveToDisk(path.string());
    return ReadAll(path);
}

} // namespace

TEST(SettingsDurability, KilledSaveLeavesTheOldOrTheNewFileWhole) {
    const fs::path dir = fs::temp_directory_path() / ("sonavel-kill-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path file = dir / "snv2_settings.dat";

    clsErrorHandler err;
    clsSettings oldSettings;
    oldSettings.MyErr = &err;
    clsSettings newSettings;
    newSettings.MyErr = &err;
    newSettings.SetPlaybackSpeed(150);
    newSettings.SetCurrentKey(7);
    newSettings.SetAsc(12, true);
    newSettings.KeyTypeArray = {"Dur", "Moll (natürlich)", "Moll (harmonisch)", "Moll (melodisch)"};
    const std::string oldText = SaveToString(oldSettings, file);
    const std::string newText = SaveToString(newSettings, file);
    ASSERT_NE(oldText, newText);

    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> delayMicros(0, 4000);
    int cutShort = 0;
    for (int round = 0; round < 150; ++round) {
        oldSettings.SaveToDisk(file.string());
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                newSettings.SaveToDisk(file.string());
                oldSettings.SaveToDisk(file.string());
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        const std::string text = ReadAll(file);
        ASSERT_TRUE(text == oldText || text == newText)
            << "round " << round << ": the file holds " << text.size() << " bytes of neither";
        if (text == newText)
            ++cutShort;
    }
    // Both outcomes must have been seen, or the kills never landed mid-run.
    EXPECT_GT(cutShort, 0);

    // A later save cleans up after a killed one: no temporary files pile up.
    oldSettings.SaveToDisk(file.string());
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir))
        ++files;
    EXPECT_LE(files, 2) << "temporary files left behind by killed saves";
    fs::remove_all(dir);
}
