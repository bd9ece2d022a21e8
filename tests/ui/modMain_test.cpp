#include "RecordingDesktop.h"
#include "RecordingMessageBoxes.h"
#include "RecordingMidiOutput.h"
#include "RecordingPresenter.h"
#include "ScopedEnv.h"
#include "TempDir.h"
#include "VirtualClock.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"
#include "startup/modMain.h"
#include "ui/frmMain.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace sonavel {
namespace {

// A file as the program writes it, with one accepted change and one bad value, in a folder
// whose name is not UTF-8.
TEST(StartUp, OneBadValueIsReportedThenTheFileIsRewrittenWithTheDefault) {
    QTemporaryDir temp;
    const std::string folder = temp.path().toStdString() + "/caf\xe9";
    std::filesystem::create_directory(folder);
    const std::string path = SettingsFilePath(folder);
    clsSettings written;
    written.SetCurrentKey(3);
    written.SaveToDisk(path);
    std::string text = fakes::ReadFile(path);
    std::ofstream(path, std::ios::binary)
        << text.replace(text.find("PlaybackSpeed=100"), 17, "PlaybackSpeed=9");
    fakes::RecordingPresenter presenter;
    fakes::RecordingMessageBoxes boxes;
    fakes::RecordingDesktop desk;
    fakes::VirtualClock clock;
    fakes::RecordingMidiOutput output{&clock};
    ProgramObjects program;
    EXPECT_FALSE(StartUp(program, folder, {presenter, boxes, desk, output, clock}));
    ASSERT_EQ(presenter.Reports.size(), 1u);
    EXPECT_NE(presenter.Reports[0].find("PlaybackSpeed=9\r\n"), std::string::npos);
    const std::string rewritten = fakes::ReadFile(path);
    EXPECT_NE(rewritten.find("PlaybackSpeed=100\r\n"), std::string::npos);
    EXPECT_NE(rewritten.find("CurrentKey=3\r\n"), std::string::npos);
}

TEST(StartUp, SettingsFolderComesFromTheEnvironment) {
    // An empty variable counts as unset (a name need not be UTF-8); null: the executable's folder.
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"/profile", "/home/me", "/profile"}, {"", "/home/\xe9", "/home/\xe9"}, {"", "", nullptr}};
    for (const auto& [userProfile, home, expected] : rows) {
        fakes::ScopedEnv setProfile("USERPROFILE", userProfile);
        fakes::ScopedEnv setHome("HOME", home);
        EXPECT_EQ(ProfileFolder(), expected ? std::string(expected)
                                            : QCoreApplication::applicationDirPath().toStdString());
    }
}

} // namespace
} // namespace sonavel
