// The application's error box, message boxes, the file-open dialog and the busy cursor.
#include "core/Exception.h"
#include "toolkit/Agents.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <tuple>

using namespace toolkit;

namespace {

TEST(DialogsTest, ErrorBoxTextEndsInOneFullStop) {
    struct Case {
        const char* message;
        const char* shown;
    };
    for (Case c : {Case{"Invalid value for field", "Invalid value for field."},
                   Case{"Out of memory.", "Out of memory."}, Case{"Really?", "Really?."},
                   Case{"", "."}, Case{"...", "..."}})
        EXPECT_EQ(ErrorBoxText(c.message), c.shown) << c.message;
}

TEST(DialogsTest, HandleExceptionShowsErrorsButNotTheSilentAbort) {
    std::vector<TMessageBoxParams> boxes;
    TScopedAgents agents({}, [&](const TMessageBoxParams& box) {
        boxes.push_back(box);
        return mrNone;
    });
    auto raise = [](auto error) {
        try {
            throw error;
        } catch (...) {
            Application().HandleException(std::current_exception());
        }
    };
    raise(stipplor::EAbort());
    EXPECT_TRUE(boxes.empty());
    raise(std::runtime_error("Incorrect conversion table dimensions"));
    raise(42);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].Caption + ": " + boxes[0].Text,
              "Error: Incorrect conversion table dimensions.");
    EXPECT_EQ(boxes[1].Text, "Unknown exception.");

    std::exception_ptr seen;
    Application().OnException = [&](std::exception_ptr e) { seen = e; };
    EXPECT_FALSE(Application().Dispatch([] { throw std::logic_error("x"); }));
    Application().OnException = nullptr;
    EXPECT_TRUE(seen);
    EXPECT_EQ(boxes.size(), 2u) << "the application's own handler replaced the box";
}

TEST(DialogsTest, MessageBoxDefaultAndCancelButtons) {
    using B = TMsgDlgBtn;
    // {buttons, default asked for, default shown, cancel button shown}
    const std::tuple<std::vector<B>, std::optional<B>, B, std::optional<B>> cases[] = {
        {{}, {}, B::OK, B::OK},
        {{B::Yes, B::No}, {}, B::Yes, B::No},
        {{B::Yes, B::No, B::Cancel}, B::No, B::No, B::Cancel},
        {{B::OK, B::Cancel}, B::Retry, B::OK, B::Cancel},
        {{B::Abort, B::Retry, B::Ignore}, {}, B::Abort, std::nullopt}};
    for (const auto& [buttons, asked, shownDefault, shownCancel] : cases) {
        TMessageBoxParams box;
        box.Buttons = buttons;
        box.DefaultButton = asked;
        TMessageBoxParams shown = ResolveMessageBox(box);
        EXPECT_FALSE(shown.Buttons.empty());
        EXPECT_EQ(shown.DefaultButton, shownDefault);
        EXPECT_EQ(shown.CancelButton, shownCancel);
    }
}

TEST(DialogsTest, MessageBoxAnswers) {
    testing::internal::CaptureStderr();
    TModalResult unanswered = MessageDlg("Only 8 or 24 bit images are supported",
                                         TMsgDlgType::Information, {TMsgDlgBtn::OK});
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Information: Only 8 or 24 bit images are supported\n");
    EXPECT_EQ(unanswered, mrOk);

    TModalResult answer = mrNo;
    TScopedAgents agents({}, [&](const TMessageBoxParams&) { return answer; });
    EXPECT_EQ(MessageDlg("?", TMsgDlgType::Warning, {TMsgDlgBtn::Yes, TMsgDlgBtn::No}), mrNo);
    answer = mrAbort; // no such button: the default answers
    EXPECT_EQ(
        MessageDlg("?", TMsgDlgType::Warning, {TMsgDlgBtn::Yes, TMsgDlgBtn::No}, TMsgDlgBtn::No),
        mrNo);
    answer = mrNone;
    EXPECT_EQ(MessageDlg("?", TMsgDlgType::Warning, {TMsgDlgBtn::Retry, TMsgDlgBtn::Cancel}),
              mrRetry);
}

TEST(DialogsTest, FileOpenDialog) {
    namespace fs = std::filesystem;
    fs::path folder = fs::temp_directory_path() / "tkwidgets_dialog_test";
    fs::create_directories(folder);
    std::ofstream(folder / "table.tif") << "x";

    TOpenDialog dialog;
    dialog.Filter = "TIFF images|*.tif;*.tiff";
    dialog.Options = ofHideReadOnly | ofFileMustExist | ofEnableSizing;
    dialog.InitialDir = folder.string();
    dialog.FileName = "old.tif";
    EXPECT_FALSE(dialog.Execute()) << "no agent: cancelled";
    EXPECT_EQ(dialog.FileName, "old.tif");

    std::optional<std::string> answer = "table.tif";
    TScopedAgents agents({}, {}, [&](const TOpenDialog& shown) {
        EXPECT_EQ(shown.Filter, "TIFF images|*.tif;*.tiff");
        return answer;
    });
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(fs::path(dialog.FileName), folder / "table.tif") << "relative to the folder";

    testing::internal::CaptureStderr();
    answer = folder.string();
    EXPECT_FALSE(dialog.Execute()) << "only existing files are accepted, and no folder";
    testing::internal::GetCapturedStderr();
    answer = std::nullopt;
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(fs::path(dialog.FileName), folder / "table.tif") << "cancelling changes nothing";
    fs::remove_all(folder);
}

TEST(DialogsTest, BusyCursorRestoresWhatWasShown) {
    EXPECT_EQ(Screen().Cursor(), crDefault);
    {
        TBusyCursor outer;
        EXPECT_EQ(Screen().Cursor(), crHourGlass);
        try {
            TBusyCursor inner;
            throw std::runtime_error("stage failed");
        } catch (const std::runtime_error&) {
        }
        EXPECT_EQ(Screen().Cursor(), crHourGlass);
    }
    EXPECT_EQ(Screen().Cursor(), crDefault);
}

} // namespace
