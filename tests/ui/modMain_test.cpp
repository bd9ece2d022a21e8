#include "RecordingDesktop.h"
#include "RecordingMessageBoxes.h"
#include "RecordingMidiOutput.h"
#include "RecordingPresenter.h"
#include "VirtualClock.h"
#include "settings/clsSettings.h"
#include "startup/clsErrorHandler.h"
#include "startup/modMain.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>

namespace sonavel {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Start-up on fakes in a folder of its own.
struct StartUpHarness {
    QTemporaryDir Folder;
    fakes::RecordingPresenter Presenter;
    fakes::RecordingMessageBoxes Boxes;
    fakes::RecordingDesktop Desk;
    fakes::VirtualClock Clock;
    fakes::RecordingMidiOutput Output{&Clock};
    ProgramObjects Program;

    std::string Path() const {
        return Folder.filePath(QStringLiteral("snv2_settings.dat")).toStdString();
    }
    bool Start() {
        return StartUp(Program, Folder.path().toStdString(),
                       {Presenter, Boxes, Desk, Output, Clock});
    }
    bool AnyWindowVisible() const {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->isVisible())
                return true;
        return false;
    }
};

TEST(StartUp, MissingFileStartsWithTheDefaultsAndClosingWritesThem) {
    StartUpHarness h;
    ASSERT_TRUE(h.Start());
    ASSERT_TRUE(h.Program.MainWindow);
    EXPECT_TRUE(h.Program.MainWindow->isVisible());
    EXPECT_TRUE(h.Presenter.Reports.empty());
    EXPECT_EQ(h.Program.strPath, h.Path());
    EXPECT_EQ(h.Program.objSettings->MyErr, h.Program.MyErr.get());
    EXPECT_EQ(h.Program.objSettings->PlaybackSpeed(), 100);
    EXPECT_EQ(h.Program.objSettings->CheatMode(), 5);
    EXPECT_EQ(h.Program.MainWindow->findChild<QLineEdit*>("txtBPM")->text(), QStringLiteral("100"));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(h.Path())));

    h.Program.MainWindow->close();
    EXPECT_FALSE(h.Program.MainWindow->isVisible());
    const std::string written = ReadFile(h.Path());
    EXPECT_NE(written.find("PlaybackSpeed=100\r\n"), std::string::npos);
    EXPECT_NE(written.find("CheatMode=5\r\n"), std::string::npos);
}

TEST(StartUp, OneBadValueIsReportedThenTheFileIsRewrittenWithTheDefault) {
    StartUpHarness h;
    // A file as the program writes it, with one accepted change and one bad value.
    clsSettings written;
    written.SaveToDisk(h.Path());
    std::string text = ReadFile(h.Path());
    const auto replace = [&text](const std::string& from, const std::string& to) {
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    };
    replace("CurrentKey=0\r\n", "CurrentKey=3\r\n");
    replace("PlaybackSpeed=100\r\n", "PlaybackSpeed=9\r\n");
    WriteFile(h.Path(), text);
    const size_t badAt = text.find("PlaybackSpeed=9");
    const auto badLine = 1 + std::count(text.begin(), text.begin() + badAt, '\n');

    EXPECT_FALSE(h.Start());
    EXPECT_FALSE(h.Program.MainWindow);
    EXPECT_FALSE(h.AnyWindowVisible());
    ASSERT_EQ(h.Presenter.Reports.size(), 1u);
    const auto& report = h.Presenter.Reports[0];
    EXPECT_EQ(report.Text, "Internal Error");
    EXPECT_EQ(report.Details,
              "Source: clsSettings::LoadFromDisk()\r\nCode  : 1\r\nString: Unexpected setting "
              "value on line " +
                  std::to_string(badLine) +
                  ": PlaybackSpeed=9\r\n\r\n"
                  "Source: clsSettings::LoadFromDisk()\r\nCode  : 9999\r\nString: Internal "
                  "Error\r\n\r\n"
                  "Source: modMain::Main()\r\nCode  : 9999\r\nString: Internal Error");

    const std::string rewritten = ReadFile(h.Path());
    EXPECT_NE(rewritten.find("PlaybackSpeed=100\r\n"), std::string::npos);
    EXPECT_NE(rewritten.find("CurrentKey=3\r\n"), std::string::npos);
    EXPECT_EQ(rewritten.find("PlaybackSpeed=9"), std::string::npos);

    // The next start reads the rewritten file.
    ProgramObjects next;
    ASSERT_TRUE(StartUp(next, h.Folder.path().toStdString(),
                        {h.Presenter, h.Boxes, h.Desk, h.Output, h.Clock}));
    EXPECT_EQ(next.objSettings->CurrentKey(), 3);
    EXPECT_EQ(h.Presenter.Reports.size(), 1u);
    next.MainWindow->hide();
}

TEST(StartUp, SettingsFolderComesFromTheEnvironment) {
    struct Row {
        std::optional<QByteArray> UserProfile, Home;
        QString Expected; // empty: the executable's folder
    };
    const Row table[] = {
        {QByteArray("/profile"), QByteArray("/home/me"), QStringLiteral("/profile")},
        {QByteArray(""), QByteArray("/home/me"), QStringLiteral("/home/me")},
        {std::nullopt, QByteArray("/home/me"), QStringLiteral("/home/me")},
        {std::nullopt, QByteArray(""), QString()},
        {std::nullopt, std::nullopt, QString()},
    };
    const QByteArray savedProfile = qgetenv("USERPROFILE");
    const bool hadProfile = qEnvironmentVariableIsSet("USERPROFILE");
    const QByteArray savedHome = qgetenv("HOME");
    const bool hadHome = qEnvironmentVariableIsSet("HOME");
    auto set = [](const char* name, const std::optional<QByteArray>& value) {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    };
    for (const Row& row : table) {
        set("USERPROFILE", row.UserProfile);
        set("HOME", row.Home);
        const QString expected =
            row.Expected.isEmpty() ? QCoreApplication::applicationDirPath() : row.Expected;
        EXPECT_EQ(QString::fromStdString(ProfileFolder()), expected);
    }
    set("USERPROFILE", hadProfile ? std::optional(savedProfile) : std::nullopt);
    set("HOME", hadHome ? std::optional(savedHome) : std::nullopt);

    EXPECT_EQ(SettingsFilePath("/home/me"), "/home/me/snv2_settings.dat");
}

} // namespace
} // namespace sonavel
