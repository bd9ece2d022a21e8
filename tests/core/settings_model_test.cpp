#include "settings/clsSettings.h"
#include "settings_testfiles.h"
#include "startup/clsErrorHandler.h"

#include <gtest/gtest.h>

using namespace sonavel;
using namespace sonavel::settingstest;

TEST(SettingsModel, FreshObjectHoldsTheDefaults) {
    const clsSettings s;
    using Names = std::vector<std::string>;
    const std::vector<bool> none(13, false);
    std::vector<bool> fourthAndFifth(13, false);
    fourthAndFifth[5] = fourthAndFifth[7] = true;

    EXPECT_EQ(s.SelIntervalsAsc, fourthAndFifth);
    EXPECT_EQ(s.SelIntervalsDesc, none);
    EXPECT_EQ(s.SelIntervalsHarm, none);
    EXPECT_EQ(s.CheatMode(), 5);
    EXPECT_EQ(s.PlaybackSpeed(), 100);
    EXPECT_EQ(s.CurrentNoteDuration(), 1);
    EXPECT_EQ(s.MIDIDevice(), 0);
    EXPECT_EQ(s.MIDIChannelKR(), 1);
    EXPECT_EQ(s.MIDIChannelRN(), 1);
    EXPECT_EQ(s.MIDIVolumeKR(), 127);
    EXPECT_EQ(s.MIDIVolumeRN(), 127);
    for (auto value :
         {s.CurrentKey(), s.MIDIInstrumentKR(), s.MIDIInstrumentRN(), s.CurrentKeyMIDIRoot})
        EXPECT_EQ(value, 0);
    for (auto value : {s.CurrentKeyType(), s.CurrentKeyReference(), s.KeyReferenceSettings(),
                       s.NoteDisplayMode()})
        EXPECT_EQ(value, 0);
    for (bool value :
         {s.RandomKey(), s.RandomKeyType(), s.MIDIRandomInstrumentKR(), s.MIDIRandomInstrumentRN()})
        EXPECT_FALSE(value);
    EXPECT_EQ(s.MyErr, nullptr);
    EXPECT_TRUE(s.NotesArray.empty());

    EXPECT_EQ(s.KeyTypeArray,
              (Names{"Major", "Minor (Natural)", "Minor (Harmonic)", "Minor (Melodic)"}));
    EXPECT_EQ(s.KeyRefArray,
              (Names{"I - IV - V - I  cadence", "II - V - I  progression", "I  chord"}));
    EXPECT_EQ(s.IntervalArray,
              (Names{"Unison", "Minor second", "Major second", "Minor third", "Major third",
                     "Perfect fourth", "Tritone", "Perfect fifth", "Minor sixth", "Major sixth",
                     "Minor seventh", "Major seventh", "Octave"}));
    EXPECT_EQ(s.NoteDurationArray,
              (Names{"Eight notes", "Quarter notes", "Half notes", "Whole notes"}));
    EXPECT_EQ(s.SolfaArray(0), (Names{"Do", "Re", "Mi", "Fa", "Sol", "La", "Ti"}));
    EXPECT_EQ(s.SolfaArray(1), (Names{"Do", "Re", "Me", "Fa", "Sol", "Le", "Te"}));
    EXPECT_EQ(s.SolfaArray(2), (Names{"Do", "Re", "Me", "Fa", "Sol", "Le", "Ti"}));
    EXPECT_EQ(s.SolfaArray(3), (Names{"Do", "Re", "Me", "Fa", "Sol", "La", "Ti"}));
    EXPECT_THROW(s.SolfaArray(4), std::out_of_range);
}

TEST(SettingsModel, PropertiesStoreAnyValueWithoutCheck) {
    clsSettings s;
    s.SetPlaybackSpeed(5);
    s.SetMIDIChannelKR(99);
    s.SetCheatMode(-7);
    s.SetMIDIDevice(-32768);
    s.SetCurrentKeyReference(2147483647);
    EXPECT_EQ(s.PlaybackSpeed(), 5);
    EXPECT_EQ(s.MIDIChannelKR(), 99);
    EXPECT_EQ(s.CheatMode(), -7);
    EXPECT_EQ(s.MIDIDevice(), -32768);
    EXPECT_EQ(s.CurrentKeyReference(), 2147483647);
}

TEST(SettingsModel, IntervalSelectionsChangeOneElementOfOneList) {
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
