#include "toolkit/Agents.h"

namespace toolkit {

namespace {

struct Agents {
    TFormAgent form;
    TMessageBoxAgent box;
    TFileDialogAgent file;
};

Agents& InstalledAgents() {
    static Agents agents;
    return agents;
}

TActionResult CheckReachable(const TControl& control) noexcept {
    TCustomForm* form = control.Form();
    if (!form || !form->AcceptsInput())
        return TActionResult::NoForm;
    if (!control.Showing())
        return TActionResult::Hidden;
    if (!control.IsEnabled())
        return TActionResult::Disabled;
    return TActionResult::Ok;
}

// Delivers one piece of input as the message loop would: a handler's exception goes to the
// application's handler, and a modal result set on the way closes the form.
TActionResult Deliver(TCustomForm& form, const std::function<void()>& input) {
    bool clean = Application().Dispatch(input);
    clean = Application().Dispatch([&] { form.CheckModalEnd(); }) && clean;
    return clean ? TActionResult::Ok : TActionResult::ErrorShown;
}

TPoint Centre(const TControl& control) noexcept {
    return {control.Width() / 2, control.Height() / 2};
}

void FocusForInput(TControl& control) {
    auto* windowed = dynamic_cast<TWinControl*>(&control);
    if (windowed && windowed->CanFocus() && !windowed->Focused())
        windowed->SetFocus();
}

void PressOn(TControl& control, TShiftState shift) {
    TPoint at = Centre(control);
    Mouse().MoveOver(&control, at);
    Mouse().SetCapture(&control);
    control.MouseDown(TMouseButton::Left, shift | ssLeft, at.X, at.Y);
}

void ReleaseOn(TControl& control, TShiftState shift) {
    struct CaptureRelease {
        TControl& control;
        ~CaptureRelease() {
            if (Mouse().Capture() == &control)
                Mouse().SetCapture(nullptr);
        }
    } release{control};
    TPoint at = Centre(control);
    Mouse().MoveOver(&control, at);
    control.MouseUp(TMouseButton::Left, shift, at.X, at.Y);
}

} // namespace

TFormAgent SetFormAgent(TFormAgent agent) {
    std::swap(InstalledAgents().form, agent);
    return agent;
}

TMessageBoxAgent SetMessageBoxAgent(TMessageBoxAgent agent) {
    std::swap(InstalledAgents().box, agent);
    return agent;
}

TFileDialogAgent SetFileDialogAgent(TFileDialogAgent agent) {
    std::swap(InstalledAgents().file, agent);
    return agent;
}

TScopedAgents::TScopedAgents(TFormAgent form, TMessageBoxAgent box, TFileDialogAgent file)
    : form_(SetFormAgent(std::move(form))), box_(SetMessageBoxAgent(std::move(box))),
      file_(SetFileDialogAgent(std::move(file))) {}

TScopedAgents::~TScopedAgents() {
    SetFormAgent(std::move(form_));
    SetMessageBoxAgent(std::move(box_));
    SetFileDialogAgent(std::move(file_));
}

namespace detail {

bool RunFormAgent(TCustomForm& form) {
    // A copy: the agent may replace itself while it runs.
    TFormAgent agent = InstalledAgents().form;
    if (!agent)
        return false;
    agent(form);
    return true;
}

std::optional<TModalResult> AskMessageBoxAgent(const TMessageBoxParams& box) {
    TMessageBoxAgent agent = InstalledAgents().box;
    if (!agent)
        return std::nullopt;
    return agent(box);
}

std::optional<std::optional<std::string>> AskFileDialogAgent(const TOpenDialog& dialog) {
    TFileDialogAgent agent = InstalledAgents().file;
    if (!agent)
        return std::nullopt;
    return agent(dialog);
}

} // namespace detail

namespace user {

TActionResult Click(TControl& control) {
    if (TActionResult r = CheckReachable(control); r != TActionResult::Ok)
        return r;
    return Deliver(*control.Form(), [&] {
        FocusForInput(control);
        PressOn(control, 0);
        ReleaseOn(control, 0);
    });
}

TActionResult TypeText(TControl& control, std::string_view text) {
    auto* edit = dynamic_cast<TEdit*>(&control);
    if (!edit)
        return TActionResult::Unsupported;
    if (TActionResult r = CheckReachable(control); r != TActionResult::Ok)
        return r;
    if (edit->ReadOnly())
        return TActionResult::Unsupported;
    return Deliver(*control.Form(), [&] {
        FocusForInput(*edit);
        edit->SelectAll();
        edit->SetModified(true);
        edit->SetSelText(text);
    });
}

TActionResult ChooseItem(TControl& control, int index) {
    auto* group = dynamic_cast<TRadioGroup*>(&control);
    if (!group)
        return TActionResult::Unsupported;
    if (TActionResult r = CheckReachable(control); r != TActionResult::Ok)
        return r;
    if (index < 0 || index >= static_cast<int>(group->Items().size()))
        return TActionResult::BadArgument;
    return Deliver(*control.Form(), [&] {
        FocusForInput(*group);
        group->SetItemIndex(index);
    });
}

TActionResult PressKey(TControl& control, TKey key, TShiftState shift) {
    auto* windowed = dynamic_cast<TWinControl*>(&control);
    if (TActionResult r = CheckReachable(control); r != TActionResult::Ok)
        return r;
    if (!windowed || !windowed->CanFocus())
        return TActionResult::Unsupported;
    TCustomForm& form = *control.Form();
    return Deliver(form, [&] {
        FocusForInput(*windowed);
        TKey pressed = key;
        windowed->KeyDown(pressed, shift);
        if (pressed != 0)
            form.DialogKey(pressed, shift);
    });
}

TActionResult TurnWheel(TControl& control, int wheelDelta, TShiftState shift, bool* handled) {
    if (handled)
        *handled = false;
    if (TActionResult r = CheckReachable(control); r != TActionResult::Ok)
        return r;
    TCustomForm& form = *control.Form();
    return Deliver(form, [&] {
        TPoint at = Centre(control);
        Mouse().MoveOver(&control, at);
        TControl* receiver = form.ActiveControl();
        if (!receiver)
            receiver = &form;
        bool taken = receiver->DoMouseWheel(shift, wheelDelta, control.ClientToForm(at));
        if (handled)
            *handled = taken;
    });
}

TActionResult Press(TControl& control, TShiftState shift) {
    if (TActionResult r = CheckReachable(control); r != TActionResult::Ok)
        return r;
    return Deliver(*control.Form(), [&] {
        FocusForInput(control);
        PressOn(control, shift);
    });
}

TActionResult Release(TControl& control, TShiftState shift) {
    if (!control.MouseCapture())
        return TActionResult::NotPressed;
    TCustomForm* form = control.Form();
    if (!form || !form->AcceptsInput())
        return TActionResult::NoForm;
    return Deliver(*form, [&] { ReleaseOn(control, shift); });
}

TActionResult CloseForm(TCustomForm& form, TModalResult result) {
    if (!form.AcceptsInput())
        return TActionResult::NoForm;
    if (result == mrNone)
        return TActionResult::BadArgument;
    bool closed = false;
    bool clean = Application().Dispatch([&] {
        form.SetModalResult(result);
        closed = form.CheckModalEnd();
    });
    if (!clean)
        return TActionResult::ErrorShown;
    return closed ? TActionResult::Ok : TActionResult::Refused;
}

} // namespace user

} // namespace toolkit
