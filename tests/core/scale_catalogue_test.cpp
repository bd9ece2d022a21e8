#include "scale_rule.h"
#include "settings/clsSettings.h"
#include "settings_testfiles.h"
#include "startup/clsErrorHandler.h"

#include <gtest/gtest.h>
#include <set>

using namespace sonavel;
using namespace sonavel::scaletest;
using settingstest::Entry;

namespace {

class EveryScale : public testing::TestWithParam<KeyCase> {
protected:
    clsSettings m_settings;
};

} // namespace

TEST(ScaleRule, SpansOneOctaveAndSpellsKnownScales) {
    for (const auto& type : kKeyTypes)
        EXPECT_EQ(std::accumulate(type.Steps.begin(), type.Steps.end(), 0), 12) << type.Label;
    using Notes = std::vector<std::string>;
    EXPECT_EQ(SpellScale("Gb", kKeyTypes[1].Steps),
              (Notes{"Gb", "Ab", "Bbb", "Cb", "Db", "Ebb", "Fb"}));
    EXPECT_EQ(SpellScale("Db", kKeyTypes[3].Steps),
              (Notes{"Db", "Eb", "Fb", "Gb", "Ab", "Bb", "C"}));
    EXPECT_EQ(SpellScale("F#", kKeyTypes[2].Steps), (Notes{"F#", "G#", "A", "B", "C#", "D", "E#"}));
}

TEST_P(EveryScale, FollowsTheSpellingRuleOfItsKeyType) {
    const auto [type, key] = GetParam();
    const clsScale& scale = m_settings.Scale(type, static_cast<int16_t>(key));
    const std::string root = kRoots[key];

    EXPECT_EQ(scale.Name, root);
    EXPECT_EQ(scale.Notes, SpellScale(root, kKeyTypes[type].Steps));
    EXPECT_EQ(scale.RootOffset, LetterIndex(root));
    const int pitch = PitchClass(root);
    EXPECT_EQ(scale.RootMidiNo, pitch >= 10 ? pitch - 12 : pitch) << "B and Bb lie below C";

    ASSERT_EQ(scale.Formula.size(), 7u);
    ASSERT_EQ(scale.Notes.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i) {
        const std::string accidental = scale.Notes[i].substr(1);
        EXPECT_EQ(scale.Formula[i], accidental.empty() ? "1" : accidental) << "degree " << i + 1;
        EXPECT_TRUE(accidental == "" || accidental == "#" || accidental == "b" ||
                    accidental == "bb")
            << scale.Notes[i] << ": at most two flats and one sharp";
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, EveryScale, testing::ValuesIn(AllKeys()),
                         KeyName<testing::TestParamInfo<KeyCase>>);

TEST(ScaleCatalogue, CatalogueKeysFollowTheRootNameAndAreUnique) {
    clsSettings settings;
    const std::array<std::string, 4> suffixes{"MAJ", "MIN", "HMIN", "MMIN"};
    std::set<std::string> seen;
    for (int type = 0; type < 4; ++type) {
        for (int16_t key = 0; key < 13; ++key) {
            std::string expected = kRoots[key];
            if (expected.size() == 2 && expected[1] == '#')
                expected[1] = 's';
            if (expected.size() == 1)
                expected += '_';
            expected += suffixes[type];
            EXPECT_EQ(settings.CatalogueKey(type, key), expected);
            seen.insert(settings.CatalogueKey(type, key));
        }
    }
    EXPECT_EQ(seen.size(), 52u);
}

TEST(ScaleCatalogue, KeyListIsTheMajorCatalogueInOrder) {
    clsSettings settings;
    EXPECT_EQ(settings.KeyArray, std::vector<std::string>(kRoots.begin(), kRoots.end()));
}

TEST(ScaleCatalogue, LookupOutsideTheCatalogueFails) {
    clsSettings settings;
    EXPECT_THROW(settings.Scale(0, 13), std::out_of_range);
    EXPECT_THROW(settings.Scale(0, -1), std::out_of_range);
    EXPECT_THROW(settings.Scale(4, 0), std::out_of_range);
    EXPECT_THROW(settings.CatalogueKey(-1, 0), std::out_of_range);
}

TEST(ScaleCatalogue, DuplicateKeyIsReportedAndRaisedAsInternalError) {
    // Loading the fixed table a second time meets "C_MAJ" again at once.
    clsSettings settings;
    clsErrorHandler err;
    settings.MyErr = &err;
    try {
        SettingsTestAccess::LoadScales(settings);
        FAIL() << "a duplicate catalogue key must fail";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Code(), 9999);
        EXPECT_EQ(e.Text(), "Internal Error");
    }
    EXPECT_EQ(err.ErrorDetails(),
              Entry("clsSettings::LoadScales()", 457,
                    "This key is already associated with an element of this collection: C_MAJ"));
    for (int type = 0; type < 4; ++type)
        EXPECT_EQ(SettingsTestAccess::CatalogueSize(settings, type), 13u);

    clsSettings unattached;
    try {
        SettingsTestAccess::LoadScales(unattached);
        FAIL() << "the failure must reach the caller without a handler too";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Code(), 9999);
    }
}
