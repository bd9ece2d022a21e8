#include "settings/clsSettings.h"
#include "settings_testfiles.h"
#include "startup/clsErrorHandler.h"

#include <gtest/gtest.h>

using namespace sonavel;
using namespace sonavel::settingstest;

TEST(SettingsModel, IntervalSelectionsChangeOneElementOfOneListAndIndexesAreChecked) {
    clsSettings s;
    const auto asc = s.SelIntervalsAsc;
    const auto desc = s.SelIntervalsDesc;
    s.SetHarm(3, true);
    EXPECT_TRUE(s.SelIntervalsHarm[3]);
    EXPECT_EQ(std::count(s.SelIntervalsHarm.begin(), s.SelIntervalsHarm.end(), true), 1);
    EXPECT_EQ(s.SelIntervalsAsc, asc);
    EXPECT_EQ(s.SelIntervalsDesc, desc);

    s.SetAsc(5, false);
    s.SetAsc(12, true);
    s.SetDesc(0, true);
    EXPECT_FALSE(s.SelIntervalsAsc[5]);
    EXPECT_TRUE(s.SelIntervalsAsc[12]);
    EXPECT_TRUE(s.SelIntervalsDesc[0]);

    EXPECT_THROW(s.SetAsc(13, true), std::out_of_range);
    EXPECT_THROW(s.SetDesc(-1, true), std::out_of_range);
    EXPECT_THROW(s.SetHarm(13, false), std::out_of_range);
    EXPECT_THROW(s.SolfaArray(4), std::out_of_range);
}

TEST(SettingsModel, OutOfRangeWriteIsRejectedOnlyWhenTheFileIsReadBack) {
    TempFolder folder;
    const std::string path = folder.File("snv2_settings.dat");
    clsSettings writer;
    writer.SetPlaybackSpeed(5);
    writer.SaveToDisk(path);

    clsSettings reader;
    clsErrorHandler err;
    reader.MyErr = &err;
    EXPECT_THROW(reader.LoadFromDisk(path), AppError);
    EXPECT_EQ(reader.PlaybackSpeed(), 100);
    EXPECT_EQ(err.ErrorDetails(),
              Chain({Entry("clsSettings::LoadFromDisk()", 1,
                           "Unexpected setting value on line 53: PlaybackSpeed=5"),
                     Entry("clsSettings::LoadFromDisk()", 9999, "Internal Error")}));
}
