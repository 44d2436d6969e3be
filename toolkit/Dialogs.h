#pragma once
// Message boxes and the file-open dialog. Both are modal: while one is open no form takes
// input. They are answered by the agents of toolkit/Agents.h; without an agent a message box
// prints "caption: text" to standard error and answers with its default button, and a
// file dialog is cancelled. UI thread only.
#include "toolkit/Controls.h"

#include <optional>
#include <string>
#include <vector>

namespace toolkit {

enum class TMsgDlgType { Warning, Error, Information, Confirmation, Custom };
enum class TMsgDlgBtn { Yes, No, OK, Cancel, Abort, Retry, Ignore, All, NoToAll, YesToAll };

// The modal result a button answers with, and its caption ("OK", "No to All", ...).
TModalResult ModalResultOf(TMsgDlgBtn button) noexcept;
const char* ButtonCaption(TMsgDlgBtn button) noexcept;

struct TMessageBoxParams {
    std::string Caption;
    std::string Text;
    TMsgDlgType Icon = TMsgDlgType::Information;
    std::vector<TMsgDlgBtn> Buttons{TMsgDlgBtn::OK};
    // Unset, or not among Buttons: the default is the first button; the cancel button is
    // Cancel, else No, else the only button when there is one, else none.
    std::optional<TMsgDlgBtn> DefaultButton;
    std::optional<TMsgDlgBtn> CancelButton;
    bool ScreenCentred = true; // else centred on the owner window
};

// The box as it is shown: Buttons never empty (an empty list shows "OK"), DefaultButton
// always set and among the buttons, CancelButton among them when set.
TMessageBoxParams ResolveMessageBox(TMessageBoxParams params);

// Shows the box modally and returns the modal result of the button that closed it.
TModalResult ShowMessageBox(TMessageBoxParams params);

// A box captioned after its type ("Warning", "Error", "Information", "Confirm"; Custom takes
// the application's title).
TModalResult MessageDlg(std::string text, TMsgDlgType type, std::vector<TMsgDlgBtn> buttons,
                        std::optional<TMsgDlgBtn> defaultButton = std::nullopt);

// Option bits of the file-open dialog.
using TOpenOptions = unsigned;
inline constexpr TOpenOptions ofHideReadOnly = 1u << 0;
inline constexpr TOpenOptions ofFileMustExist = 1u << 1;
inline constexpr TOpenOptions ofPathMustExist = 1u << 2;
inline constexpr TOpenOptions ofEnableSizing = 1u << 3;
inline constexpr TOpenOptions ofNoChangeDir = 1u << 4;
inline constexpr TOpenOptions ofAllowMultiSelect = 1u << 5;

class TOpenDialog {
public:
    // "Description|pattern;pattern|Description|pattern..."
    std::string Filter;
    int FilterIndex = 1;
    TOpenOptions Options = ofHideReadOnly | ofEnableSizing;
    std::string InitialDir;
    std::string FileName; // preselected before Execute, the chosen full name after
    std::string Title;

    // Shows the dialog; true when a file was chosen (then FileName holds its full name). A
    // relative answer is taken relative to InitialDir (or the working folder); with
    // ofFileMustExist a name that is no existing file is refused, as the dialog would refuse
    // it, and the dialog ends cancelled.
    bool Execute();
};

} // namespace toolkit
