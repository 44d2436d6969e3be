#pragma once
// Stands in for the user through the toolkit's automation interface: when the plug-in shows
// its dialog, the driver acts on the controls in the order given (as a person would, so a
// disabled or hidden control is refused), prints the controls' state when asked, and presses
// OK or Cancel. Every message box is printed with its caption and answered with its default
// button. One driver at a time; it installs its agents for its lifetime.
#include "toolkit/Automation.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace orvalis {

// One --set CONTROL=VALUE.
struct TControlSetting {
    std::string Control;
    std::string Value;
};
// "NAME=VALUE" split at its first "="; nothing when there is no "=" or no name.
std::optional<TControlSetting> ParseControlSetting(const std::string& text);

struct TDriverOptions {
    std::vector<TControlSetting> Settings;
    bool Show = false;   // print every control after the settings
    bool Cancel = false; // press Cancel instead of OK
};

enum class TDialogOutcome {
    NotShown,      // the plug-in never showed its dialog
    Refused,       // a setting could not be made; the dialog was cancelled
    Cancelled,     // Cancel was pressed
    ClosedAfterOK, // OK was pressed and the dialog closed (a completed run)
    OpenAfterOK,   // OK was pressed and the dialog stayed open (an error, a stop, or no run)
};

class TDialogDriver {
public:
    TDialogDriver(TDriverOptions options, std::ostream& out, std::ostream& err);
    ~TDialogDriver();
    TDialogDriver(const TDialogDriver&) = delete;
    TDialogDriver& operator=(const TDialogDriver&) = delete;

    TDialogOutcome Outcome() const noexcept { return outcome_; }
    int ModalResult() const noexcept { return modalResult_; }
    // Message boxes captioned "Error" shown so far.
    int ErrorBoxes() const noexcept { return errorBoxes_; }

private:
    void Drive(tk_form* form);
    // The reason a setting cannot be made, or nothing once it is made.
    std::optional<std::string> Apply(tk_form* form, const TControlSetting& setting);
    void PrintControls(tk_form* form);
    void Press(tk_form* form, const char* caption);

    static void FormAgent(tk_form* form, void* user);
    static int MessageBoxAgent(const tk_message_box_info* box, void* user);

    TDriverOptions options_;
    std::ostream& out_;
    std::ostream& err_;
    TDialogOutcome outcome_ = TDialogOutcome::NotShown;
    int modalResult_ = 0;
    int errorBoxes_ = 0;
};

} // namespace orvalis
