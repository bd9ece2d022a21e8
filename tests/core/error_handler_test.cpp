#include "RecordingPresenter.h"
#include "startup/clsErrorHandler.h"

#include <gtest/gtest.h>

using namespace sonavel;

TEST(ErrorHandler, OneEntryIsThreeLinesWithoutTrailingBreak) {
    clsErrorHandler err;
    fakes::RecordingPresenter shown;
    err.SetPresenter(&shown);
    err.ShowError("frmMain::cmdStart_Click()", 5, "Some text");
    ASSERT_EQ(shown.Reports.size(), 1u);
    EXPECT_EQ(shown.Reports[0].Text, "Some text");
    EXPECT_EQ(shown.Reports[0].Details, "Source: frmMain::cmdStart_Click()\r\n"
                                        "Code  : 5\r\n"
                                        "String: Some text");
    EXPECT_EQ(err.ErrorDetails(), "") << "showing a report empties it";
}

TEST(ErrorHandler, ChainsEntriesOldestFirstWithOneEmptyLineBetween) {
    clsErrorHandler err;
    fakes::RecordingPresenter shown;
    err.SetPresenter(&shown);
    err.PrepareError("clsMidi::Initialize()", -3, "Cannot open MIDI device.");
    EXPECT_THROW(err.Raise("clsEngine::Play()", 12, "inner"), AppError);
    err.ShowError("frmMain::cmdStart_Click()", 9999, "Internal Error");
    ASSERT_EQ(shown.Reports.size(), 1u);
    EXPECT_EQ(shown.Reports[0].Details, "Source: clsMidi::Initialize()\r\n"
                                        "Code  : -3\r\n"
                                        "String: Cannot open MIDI device.\r\n\r\n"
                                        "Source: clsEngine::Play()\r\n"
                                        "Code  : 12\r\n"
                                        "String: inner\r\n\r\n"
                                        "Source: frmMain::cmdStart_Click()\r\n"
                                        "Code  : 9999\r\n"
                                        "String: Internal Error");
}

TEST(ErrorHandler, RethrowRecordsTheFailureAndRaisesTheInternalError) {
    clsErrorHandler err;
    try {
        try {
            throw AppError(42, "deep failure");
        } catch (...) {
            err.Rethrow("clsEngine::NewQuestion()", std::current_exception());
        }
        FAIL() << "Rethrow must throw";
    } catch (const AppError& e) {
        EXPECT_EQ(e.Code(), 9999);
        EXPECT_EQ(e.Text(), "Internal Error");
    }
    EXPECT_EQ(err.ErrorDetails(), "Source: clsEngine::NewQuestion()\r\n"
                                  "Code  : 42\r\n"
                                  "String: deep failure");
}
