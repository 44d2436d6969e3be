#pragma once
// The C++ side of automation: the agents that stand in for the user when a form, a message
// box or a file dialog is shown, and the user's actions on controls, delivered as a screen
// would deliver them. toolkit/Automation.h is the same for C. UI thread only.
#include "toolkit/Controls.h"
#include "toolkit/Dialogs.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace toolkit {

// Called inside ShowModal once the form is shown; it acts through the functions below and
// may close the form. Returning with the form still open closes it with mrCancel.
using TFormAgent = std::function<void(TCustomForm& form)>;
// Returns the modal result of the button to press; mrNone (or a result that is not one of
// the box's buttons) presses the default button.
using TMessageBoxAgent = std::function<TModalResult(const TMessageBoxParams& box)>;
// Returns the chosen file name, or nothing to cancel.
using TFileDialogAgent = std::function<std::optional<std::string>(const TOpenDialog& dialog)>;

// Each installs an agent (an empty one removes it) and returns the one installed before.
TFormAgent SetFormAgent(TFormAgent agent);
TMessageBoxAgent SetMessageBoxAgent(TMessageBoxAgent agent);
TFileDialogAgent SetFileDialogAgent(TFileDialogAgent agent);

// Installs agents for a scope and puts the previous ones back at its end.
class TScopedAgents {
public:
    TScopedAgents(TFormAgent form, TMessageBoxAgent box = {}, TFileDialogAgent file = {});
    ~TScopedAgents();
    TScopedAgents(const TScopedAgents&) = delete;
    TScopedAgents& operator=(const TScopedAgents&) = delete;

private:
    TFormAgent form_;
    TMessageBoxAgent box_;
    TFileDialogAgent file_;
};

// How a user's action went. Failures leave everything untouched.
enum class TActionResult : int {
    Ok = 0,
    BadArgument = -1, // no such item, no modal result, ...
    ErrorShown = 1,   // done; a handler raised an error, which the application reported
    NoForm = -2,      // the control's form is not shown or another window is modal above it
    Disabled = -4,    // the control, or a parent, is disabled
    Hidden = -5,      // the control, or a parent, is hidden
    Unsupported = -6, // the control does not take this action
    NotPressed = -7,  // release without a press
    Refused = -8,     // the form refused to close (OnCloseQuery)
};

namespace user {

// Presses and releases the left button over the control (focusing it when it can focus).
TActionResult Click(TControl& control);
// Focuses an edit, replaces its whole text by typing `text` (its first line) and leaves the
// caret at the end: one change event.
TActionResult TypeText(TControl& control, std::string_view text);
// Chooses item `index` of a radio group (focusing it).
TActionResult ChooseItem(TControl& control, int index);
// Focuses the control and presses the key; the form sees what the control did not swallow.
TActionResult PressKey(TControl& control, TKey key, TShiftState shift);
// Puts the pointer over the control and turns the wheel; the focused control (or the form)
// receives it. `handled` tells whether anyone took it.
TActionResult TurnWheel(TControl& control, int wheelDelta, TShiftState shift,
                        bool* handled = nullptr);
// Presses the left button over the control and holds it; Release lets it go over the same
// control. Advance the clock between the two to hold it for a time.
TActionResult Press(TControl& control, TShiftState shift = 0);
TActionResult Release(TControl& control, TShiftState shift = 0);
// Closes a form that takes input with a modal result (not mrNone).
TActionResult CloseForm(TCustomForm& form, TModalResult result);

} // namespace user

namespace detail {
// The stack of modal windows (forms, message boxes, file dialogs): only the top one takes
// input.
class TModalScope {
public:
    explicit TModalScope(const void* window);
    ~TModalScope();
    TModalScope(const TModalScope&) = delete;
    TModalScope& operator=(const TModalScope&) = delete;

private:
    const void* window_;
};
const void* TopModalWindow() noexcept;
// The form at `address` when one lives there (for handles that come from outside).
TCustomForm* LiveForm(const void* address) noexcept;

// Used by the toolkit itself: run the installed agent, or report that there is none.
bool RunFormAgent(TCustomForm& form);
std::optional<TModalResult> AskMessageBoxAgent(const TMessageBoxParams& box);
std::optional<std::optional<std::string>> AskFileDialogAgent(const TOpenDialog& dialog);
} // namespace detail

} // namespace toolkit
