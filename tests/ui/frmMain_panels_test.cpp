#include "MainWindowHarness.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <tuple>

namespace sonavel::uitest {
namespace {

// The answer lists name the notes of the key in the naming chosen, also on a
// first run, when no settings file has named them. Choosing a key or a key
// type switches its panel from the saved random option to the fixed one.
TEST(MainWindowPanels, NoteListsFollowKeyKeyTypeAndNaming) {
    MainWindowHarness h([](clsSettings& s) {
        s.NotesArray.clear();
        s.SetRandomKey(true);
        s.SetRandomKeyType(true);
        s.SetKeyReferenceSettings(2);
    });
    for (const char* name : {"optKey_1", "optKeyType_1", "optReference_2"})
        EXPECT_TRUE(h.Ticked(name)) << name;
    EXPECT_EQ(h.Entries("lstNoteAnswer_0"), QString("C D E F G A B").split(' '));
    const std::pair<const char*, int> steps[] = {
        {"cboKey", 1}, {"mnuViewNotes_1", 1}, {"cboKeyType", 1}, {"mnuViewNotes_2", 2}};
    for (const auto& [control, value] : steps) {
        SCOPED_TRACE(control);
        const QStringList before = h.Entries("lstNoteAnswer_0");
        if (control[0] == 'm') {
            h.Trigger(control);
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(h.Find<QAction>(At("mnuViewNotes", i))->isChecked(), i == value);
        } else {
            h.Choose(control, value);
        }
        EXPECT_NE(h.Entries("lstNoteAnswer_0"), before);
        EXPECT_EQ(h.Entries("lstNoteAnswer_1"), h.Entries("lstNoteAnswer_0"));
    }
    h.Choose("cboKeyReference", 1);
    EXPECT_EQ(std::tuple(h.Settings.RandomKey(), h.Settings.RandomKeyType(),
                         h.Settings.KeyReferenceSettings()),
              std::tuple(false, false, 0));
}

TEST(MainWindowPanels, TempoIsCheckedWhenTheBoxIsLeft) {
    // Rounded half to even, then held to 40..200; anything else puts back 100.
    const std::tuple<const char*, int> table[] = {
        {"abc", 100}, {"200.6", 200}, {"39.5", 40}, {"39.4", 40}, {"77.5", 78}};
    MainWindowHarness h;
    auto* box = h.Find<QLineEdit>("txtBPM");
    for (const auto& [typed, tempo] : table) {
        box->selectAll();
        QTest::keyClicks(box, QString::fromLatin1(typed));
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(h.Settings.PlaybackSpeed(), tempo) << "typed " << typed;
    }
    // The arrows step the tempo typed, inside the range.
    box->setText(QStringLiteral("200"));
    h.Click("updBMP_Up");
    EXPECT_EQ(h.Settings.PlaybackSpeed(), 200);
    box->setText(QStringLiteral("41"));
    h.Click("updBMP_Down");
    h.Click("updBMP_Down");
    EXPECT_EQ(box->text() + ' ' + QString::number(h.Settings.PlaybackSpeed()), "40 40");
}

TEST(MainWindowPanels, SelectAllTicksAColumnOrClearsAFullOne) {
    MainWindowHarness h;
    for (int i = 0; i < 13; ++i) // twelve of thirteen ticked
        if (h.Ticked(At("chkDescInt", i)) != (i > 0))
            h.Click(At("chkDescInt", i));
    for (const bool expected : {true, false}) {
        h.Click(At("chkSelectAll", 1));
        for (int i = 0; i < 13; ++i)
            EXPECT_EQ(h.Settings.SelIntervalsDesc[i], expected) << i;
    }
}

TEST(MainWindowPanels, PressOnAnIntervalNameTogglesItsRow) {
    // Cleared when both its ascending and descending boxes are ticked, else
    // ticked whole, whatever the button.
    const std::tuple<std::array<bool, 3>, Qt::MouseButton, bool> table[] = {
        {{false, false, true}, Qt::LeftButton, true},
        {{true, true, true}, Qt::RightButton, false},
        {{true, false, false}, Qt::MiddleButton, true}};
    MainWindowHarness h;
    const char* columns[] = {"chkAscInt", "chkDescInt", "chkHarmInt"};
    for (const auto& [start, button, after] : table) {
        for (int c = 0; c < 3; ++c)
            if (h.Ticked(At(columns[c], 2)) != start[c])
                h.Click(At(columns[c], 2));
        QTest::mousePress(h.Find<QLabel>("lblInterval_2"), button);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(h.Ticked(At(columns[c], 2)), after) << columns[c];
        EXPECT_EQ(h.Settings.SelIntervalsHarm[2], after);
    }
    h.Click("cmdStart"); // not while the interval frame is disabled
    QTest::mousePress(h.Find<QLabel>("lblInterval_0"), Qt::LeftButton);
    EXPECT_FALSE(h.Settings.SelIntervalsAsc[0]);
}

TEST(MainWindowPanels, MenusReachTheDesktop) {
    MainWindowHarness h;
    h.Settings.SaveToDisk(h.SettingsPath);
    h.Trigger("mnuFileOpen");
    EXPECT_TRUE(h.Boxes.Boxes.empty());
    h.Desk.EditorStarts = false; // a desktop without an editor for it says so
    h.Trigger("mnuFileOpen");
    ASSERT_EQ(h.Boxes.Boxes.size(), 1u);
    EXPECT_NE(h.Boxes.Boxes[0].Text.find(h.SettingsPath), std::string::npos);

    const QString page = h.Dir.filePath(QStringLiteral("help/index.htm"));
    h.Trigger("mnuHelpContents"); // looked for beside the program first
    ASSERT_EQ(h.Boxes.Boxes.size(), 2u);
    EXPECT_NE(h.Boxes.Boxes[1].Text.find(page.toStdString()), std::string::npos);
    ASSERT_TRUE(QDir(h.Dir.path()).mkdir(QStringLiteral("help")));
    ASSERT_TRUE(QFile(page).open(QIODevice::WriteOnly));
    h.Trigger("mnuHelpContents");
    h.Click("imgHelp");
    EXPECT_EQ(h.Desk.HelpPages, std::vector<std::string>(2, page.toStdString()));
}

} // namespace
} // namespace sonavel::uitest
