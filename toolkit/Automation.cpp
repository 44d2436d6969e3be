#include "toolkit/Automation.h"

#include "toolkit/Agents.h"

#include <algorithm>
#include <cstring>
#include <new>

using namespace toolkit;

namespace {

// The C boundary: nothing escapes it but result codes.
template <class F> int Guarded(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return TK_ERR_INTERNAL;
    }
}

int CopyOut(const std::string& text, char* buffer, size_t size) noexcept {
    if (buffer && size > 0) {
        size_t n = std::min(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int>(std::min<size_t>(text.size(), 0x7FFFFFFF));
}

TCustomForm* FormOf(tk_form* handle) noexcept {
    return detail::LiveForm(handle);
}

tk_form* HandleOf(TCustomForm& form) noexcept {
    return static_cast<tk_form*>(static_cast<void*>(&form));
}

// Finds the named control (NULL: the form); a negative result is the error code.
int Resolve(tk_form* handle, const char* name, TControl*& control) noexcept {
    TCustomForm* form = FormOf(handle);
    if (!form)
        return TK_ERR_NO_FORM;
    if (!name) {
        control = form;
        return TK_OK;
    }
    control = form->FindControl(name);
    return control ? TK_OK : TK_ERR_NOT_FOUND;
}

int ToCode(TActionResult result) noexcept {
    return static_cast<int>(result);
}

template <class Action> int Act(tk_form* handle, const char* name, Action&& action) noexcept {
    return Guarded([&]() -> int {
        if (!name)
            return FormOf(handle) ? TK_ERR_ARGUMENT : TK_ERR_NO_FORM;
        TControl* control = nullptr;
        if (int r = Resolve(handle, name, control); r != TK_OK)
            return r;
        return ToCode(action(*control));
    });
}

int IconCode(TMsgDlgType type) noexcept {
    switch (type) {
    case TMsgDlgType::Warning:
        return TK_ICON_WARNING;
    case TMsgDlgType::Error:
        return TK_ICON_ERROR;
    case TMsgDlgType::Information:
        return TK_ICON_INFORMATION;
    case TMsgDlgType::Confirmation:
        return TK_ICON_CONFIRMATION;
    case TMsgDlgType::Custom:
        break;
    }
    return TK_ICON_NONE;
}

// Integer state; false when the control has no such property.
bool ReadInt(const TControl& control, int property, int& value) {
    auto* edit = dynamic_cast<const TEdit*>(&control);
    switch (property) {
    case TK_PROP_CHECKED:
        if (auto* box = dynamic_cast<const TCheckBox*>(&control))
            return value = box->Checked(), true;
        if (auto* radio = dynamic_cast<const TRadioButton*>(&control))
            return value = radio->Checked(), true;
        return false;
    case TK_PROP_ITEM_INDEX:
        if (auto* group = dynamic_cast<const TRadioGroup*>(&control))
            return value = group->ItemIndex(), true;
        return false;
    case TK_PROP_ITEM_COUNT:
        if (auto* group = dynamic_cast<const TRadioGroup*>(&control))
            return value = static_cast<int>(group->Items().size()), true;
        return false;
    case TK_PROP_ENABLED:
        return value = control.Enabled(), true;
    case TK_PROP_VISIBLE:
        return value = control.Visible(), true;
    case TK_PROP_TAKES_INPUT:
        return value = control.Showing() && control.IsEnabled(), true;
    case TK_PROP_FOCUSED: {
        auto* windowed = dynamic_cast<const TWinControl*>(&control);
        return value = windowed && windowed->Focused(), true;
    }
    case TK_PROP_TEXT_COLOR:
        return value = static_cast<int>(ColorToRGB(control.Font().Color)), true;
    case TK_PROP_SEL_START:
        return edit && (value = edit->SelStart(), true);
    case TK_PROP_SEL_LENGTH:
        return edit && (value = edit->SelLength(), true);
    case TK_PROP_LEFT:
        return value = control.Left(), true;
    case TK_PROP_TOP:
        return value = control.Top(), true;
    case TK_PROP_WIDTH:
        return value = control.Width(), true;
    case TK_PROP_HEIGHT:
        return value = control.Height(), true;
    case TK_PROP_MODAL_RESULT:
        if (auto* form = dynamic_cast<const TCustomForm*>(&control))
            return value = form->ModalResult(), true;
        return false;
    default:
        return false;
    }
}

std::optional<std::string> ReadString(const TControl& control, int property) {
    switch (property) {
    case TK_PROP_NAME:
        return control.Name();
    case TK_PROP_CLASS:
        return std::string(control.ClassName());
    case TK_PROP_CAPTION:
        return control.Caption();
    case TK_PROP_TEXT:
        if (auto* edit = dynamic_cast<const TEdit*>(&control))
            return edit->Text();
        return std::nullopt;
    case TK_PROP_VALUE:
        return control.AutomationValue();
    default:
        return std::nullopt;
    }
}

} // namespace

extern "C" {

void tk_set_form_agent(tk_form_agent agent, void* user) {
    TFormAgent wrapped;
    if (agent)
        wrapped = [agent, user](TCustomForm& form) { agent(HandleOf(form), user); };
    SetFormAgent(std::move(wrapped));
}

void tk_set_message_box_agent(tk_message_box_agent agent, void* user) {
    TMessageBoxAgent wrapped;
    if (agent)
        wrapped = [agent, user](const TMessageBoxParams& box) {
            std::vector<int> results;
            std::vector<const char*> captions;
            for (TMsgDlgBtn button : box.Buttons) {
                results.push_back(ModalResultOf(button));
                captions.push_back(ButtonCaption(button));
            }
            tk_message_box_info info{};
            info.caption = box.Caption.c_str();
            info.text = box.Text.c_str();
            info.icon = IconCode(box.Icon);
            info.button_count = static_cast<int>(results.size());
            info.buttons = results.data();
            info.button_captions = captions.data();
            info.default_result = box.DefaultButton ? ModalResultOf(*box.DefaultButton) : 0;
            info.cancel_result = box.CancelButton ? ModalResultOf(*box.CancelButton) : 0;
            info.screen_centred = box.ScreenCentred ? 1 : 0;
            info.owner = Application().Handle();
            return static_cast<TModalResult>(agent(&info, user));
        };
    SetMessageBoxAgent(std::move(wrapped));
}

void tk_set_file_dialog_agent(tk_file_dialog_agent agent, void* user) {
    TFileDialogAgent wrapped;
    if (agent)
        wrapped = [agent, user](const TOpenDialog& dialog) -> std::optional<std::string> {
            tk_file_dialog_info info{};
            info.title = dialog.Title.c_str();
            info.filter = dialog.Filter.c_str();
            info.filter_index = dialog.FilterIndex;
            info.options = dialog.Options;
            info.initial_dir = dialog.InitialDir.c_str();
            info.file_name = dialog.FileName.c_str();
            constexpr size_t ChosenNameSize = 4096;
            std::string chosen(ChosenNameSize, '\0');
            if (!agent(&info, chosen.data(), ChosenNameSize, user))
                return std::nullopt;
            chosen.back() = '\0'; // whatever the agent wrote, the name ends inside the buffer
            chosen.resize(std::strlen(chosen.c_str()));
            return chosen;
        };
    SetFileDialogAgent(std::move(wrapped));
}

int tk_get_string(tk_form* form, const char* control, int property, char* buffer, size_t size) {
    return Guarded([&]() -> int {
        TControl* target = nullptr;
        if (int r = Resolve(form, control, target); r != TK_OK)
            return r;
        std::optional<std::string> text = ReadString(*target, property);
        return text ? CopyOut(*text, buffer, size) : TK_ERR_UNSUPPORTED;
    });
}

int tk_get_int(tk_form* form, const char* control, int property, int* value) {
    return Guarded([&]() -> int {
        if (!value)
            return TK_ERR_ARGUMENT;
        TControl* target = nullptr;
        if (int r = Resolve(form, control, target); r != TK_OK)
            return r;
        int read = 0;
        if (!ReadInt(*target, property, read))
            return TK_ERR_UNSUPPORTED;
        *value = read;
        return TK_OK;
    });
}

int tk_get_item(tk_form* form, const char* control, int index, char* buffer, size_t size) {
    return Guarded([&]() -> int {
        TControl* target = nullptr;
        if (int r = Resolve(form, control, target); r != TK_OK)
            return r;
        auto* group = dynamic_cast<TRadioGroup*>(target);
        if (!group)
            return TK_ERR_UNSUPPORTED;
        if (index < 0 || index >= static_cast<int>(group->Items().size()))
            return TK_ERR_ARGUMENT;
        return CopyOut(group->Items()[static_cast<size_t>(index)], buffer, size);
    });
}

int tk_control_count(tk_form* form) {
    return Guarded([&]() -> int {
        TCustomForm* target = FormOf(form);
        if (!target)
            return TK_ERR_NO_FORM;
        return static_cast<int>(target->AllControls().size());
    });
}

int tk_control_name(tk_form* form, int index, char* buffer, size_t size) {
    return Guarded([&]() -> int {
        TCustomForm* target = FormOf(form);
        if (!target)
            return TK_ERR_NO_FORM;
        std::vector<TControl*> controls = target->AllControls();
        if (index < 0 || index >= static_cast<int>(controls.size()))
            return TK_ERR_ARGUMENT;
        return CopyOut(controls[static_cast<size_t>(index)]->Name(), buffer, size);
    });
}

int tk_click(tk_form* form, const char* control) {
    return Act(form, control, [](TControl& c) { return user::Click(c); });
}

int tk_type_text(tk_form* form, const char* control, const char* text) {
    if (!text)
        return TK_ERR_ARGUMENT;
    return Act(form, control, [&](TControl& c) { return user::TypeText(c, text); });
}

int tk_choose_item(tk_form* form, const char* control, int index) {
    return Act(form, control, [&](TControl& c) { return user::ChooseItem(c, index); });
}

int tk_press_key(tk_form* form, const char* control, int key, int shift) {
    if (key <= 0 || key > 0xFFFF)
        return TK_ERR_ARGUMENT;
    return Act(form, control, [&](TControl& c) {
        return user::PressKey(c, static_cast<TKey>(key), static_cast<TShiftState>(shift));
    });
}

int tk_turn_wheel(tk_form* form, const char* control, int delta, int shift, int* handled) {
    if (handled)
        *handled = 0;
    return Act(form, control, [&](TControl& c) {
        bool taken = false;
        TActionResult r = user::TurnWheel(c, delta, static_cast<TShiftState>(shift), &taken);
        if (handled)
            *handled = taken ? 1 : 0;
        return r;
    });
}

int tk_press(tk_form* form, const char* control, int shift) {
    return Act(form, control,
               [&](TControl& c) { return user::Press(c, static_cast<TShiftState>(shift)); });
}

int tk_release(tk_form* form, const char* control, int shift) {
    return Act(form, control,
               [&](TControl& c) { return user::Release(c, static_cast<TShiftState>(shift)); });
}

int tk_close_form(tk_form* form, int modal_result) {
    return Guarded([&]() -> int {
        TCustomForm* target = FormOf(form);
        if (!target)
            return TK_ERR_NO_FORM;
        return ToCode(user::CloseForm(*target, modal_result));
    });
}

void tk_advance_clock(int64_t ms) {
    try {
        DefaultClock().Advance(ms);
    } catch (...) {
        // Timer errors are reported by the clock itself; nothing else can fail here.
    }
}

int64_t tk_clock_now(void) {
    return DefaultClock().Now();
}

int tk_screen_cursor(void) {
    return Screen().Cursor();
}

intptr_t tk_application_handle(void) {
    return Application().Handle();
}

} // extern "C"
