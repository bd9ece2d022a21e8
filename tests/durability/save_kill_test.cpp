// A save cut short at any moment must leave the settings file as it was or as it was being
// written, never half of each: a child saves two settings in turn and is killed at random, or
// two children save at once, each waiting for the other's save.
#include "TempDir.h"
#include "settings/clsSettings.h"

#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace sonavel;

TEST(SettingsDurability, KilledOrConcurrentSavesLeaveTheOldOrTheNewFileWhole) {
    fakes::TempDir dir("sonavel-kill");
    const std::string file = (dir.Path / "snv2_settings.dat").string();
    clsSettings oldSettings, newSettings;
    newSettings.KeyTypeArray = {"Dur", "Moll (natürlich)", "Moll (harmonisch)", "Moll (melodisch)"};
    newSettings.SaveToDisk(file);
    const std::string newText = fakes::ReadFile(file);
    oldSettings.SaveToDisk(file);
    const std::string oldText = fakes::ReadFile(file);

    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> delayMicros(0, 4000);
    int cutShort = 0;
    for (int round = 0; round < 150; ++round) {
        oldSettings.SaveToDisk(file);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                newSettings.SaveToDisk(file);
                oldSettings.SaveToDisk(file);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        const std::string text = fakes::ReadFile(file);
        ASSERT_TRUE(text == oldText || text == newText)
            << "round " << round << ": the file holds " << text.size() << " bytes of neither";
        cutShort += text == newText;
    }
    EXPECT_GT(cutShort, 0) << "the kills never landed in the middle of a run";

    pid_t copies[2];
    for (int i = 0; i < 2; ++i) {
        if ((copies[i] = fork()) == 0) {
            for (int round = 0; round < 200; ++round)
                (i ? newSettings : oldSettings).SaveToDisk(file); // a failure aborts the child
            _exit(0);
        }
    }
    for (const pid_t copy : copies) {
        int status = 0;
        waitpid(copy, &status, 0);
        EXPECT_EQ(status, 0) << "a save failed while another was under way";
    }
    EXPECT_TRUE(fakes::ReadFile(file) == oldText || fakes::ReadFile(file) == newText);

    // A later save cleans up after a killed one: no temporary files pile up.
    oldSettings.SaveToDisk(file);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path), {}), 1);
}
