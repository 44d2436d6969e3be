#include "host/DialogDriver.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>

namespace orvalis {

namespace {

// A string property of a control, or nothing when the control has none.
std::optional<std::string> ReadString(tk_form* form, const char* control, int property) {
    const int length = tk_get_string(form, control, property, nullptr, 0);
    if (length < 0)
        return std::nullopt;
    std::string text(size_t(length) + 1, '\0');
    tk_get_string(form, control, property, text.data(), text.size());
    text.resize(size_t(length));
    return text;
}

std::optional<int> ReadInt(tk_form* form, const char* control, int property) {
    int value = 0;
    if (tk_get_int(form, control, property, &value) != TK_OK)
        return std::nullopt;
    return value;
}

// The form's controls by name, depth first in creation order.
std::vector<std::string> ControlNames(tk_form* form) {
    std::vector<std::string> names;
    for (int i = 0, n = tk_control_count(form); i < n; ++i) {
        const int length = std::max(tk_control_name(form, i, nullptr, 0), 0);
        std::string name(size_t(length) + 1, '\0');
        tk_control_name(form, i, name.data(), name.size());
        name.resize(size_t(length));
        names.push_back(std::move(name));
    }
    return names;
}

std::string ItemCaption(tk_form* form, const char* control, int index) {
    const int length = tk_get_item(form, control, index, nullptr, 0);
    if (length < 0)
        return {};
    std::string text(size_t(length) + 1, '\0');
    tk_get_item(form, control, index, text.data(), text.size());
    text.resize(size_t(length));
    return text;
}

// A caption as a person reads it: "&" marks the accelerator and is not shown, "&&" shows "&".
std::string Shown(const std::string& caption) {
    std::string text;
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&' && i + 1 < caption.size())
            ++i;
        text += caption[i];
    }
    return text;
}

bool SameText(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

std::optional<int> ParseIndex(const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Why a person could not act on the control now, or nothing when they could.
std::optional<std::string> Unreachable(tk_form* form, const std::string& name) {
    const char* control = name.c_str();
    if (ReadInt(form, control, TK_PROP_TAKES_INPUT).value_or(0) == 1)
        return std::nullopt;
    if (ReadInt(form, control, TK_PROP_VISIBLE).value_or(1) == 0)
        return name + " is hidden";
    if (ReadInt(form, control, TK_PROP_ENABLED).value_or(1) == 0)
        return name + " is disabled";
    return name + " is inside a disabled or hidden group";
}

std::optional<std::string> Failure(int result, const std::string& name) {
    switch (result) {
    case TK_OK:
    case TK_ERROR_SHOWN: // the handler's error box is printed; a person would go on
        return std::nullopt;
    case TK_ERR_DISABLED:
        return name + " is disabled";
    case TK_ERR_HIDDEN:
        return name + " is hidden";
    default:
        return name + " did not take the action (toolkit result " + std::to_string(result) + ")";
    }
}

} // namespace

std::optional<TControlSetting> ParseControlSetting(const std::string& text) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0)
        return std::nullopt;
    return TControlSetting{text.substr(0, equals), text.substr(equals + 1)};
}

TDialogDriver::TDialogDriver(TDriverOptions options, std::ostream& out, std::ostream& err)
    : options_(std::move(options)), out_(out), err_(err) {
    tk_set_form_agent(&FormAgent, this);
    tk_set_message_box_agent(&MessageBoxAgent, this);
}

TDialogDriver::~TDialogDriver() {
    tk_set_form_agent(nullptr, nullptr);
    tk_set_message_box_agent(nullptr, nullptr);
}

void TDialogDriver::FormAgent(tk_form* form, void* user) {
    auto& driver = *static_cast<TDialogDriver*>(user);
    // The toolkit is C on this side: nothing may leave the agent.
    try {
        driver.Drive(form);
    } catch (const std::exception& e) {
        driver.err_ << "orvalis-host: driving the dialog failed: " << e.what() << '\n';
        driver.outcome_ = TDialogOutcome::Refused;
    } catch (...) {
        driver.outcome_ = TDialogOutcome::Refused;
    }
}

int TDialogDriver::MessageBoxAgent(const tk_message_box_info* box, void* user) {
    auto& driver = *static_cast<TDialogDriver*>(user);
    try {
        const std::string caption = box->caption ? box->caption : "";
        driver.out_ << '[' << caption << "] " << (box->text ? box->text : "") << std::endl;
        if (caption == "Error")
            ++driver.errorBoxes_;
    } catch (...) {
    }
    return TK_MR_NONE; // the default button
}

void TDialogDriver::Drive(tk_form* form) {
    out_ << "dialog " << Quoted(ReadString(form, nullptr, TK_PROP_CAPTION).value_or("")) << " shown"
         << std::endl;
    std::optional<std::string> refusal;
    for (const TControlSetting& setting : options_.Settings) {
        refusal = Apply(form, setting);
        if (refusal) {
            err_ << "orvalis-host: --set " << setting.Control << '=' << setting.Value
                 << " refused: " << *refusal << '\n';
            break;
        }
    }
    if (options_.Show)
        PrintControls(form);
    if (refusal) {
        outcome_ = TDialogOutcome::Refused;
        tk_close_form(form, TK_MR_CANCEL);
        return;
    }
    if (options_.Cancel) {
        Press(form, "Cancel");
        outcome_ = TDialogOutcome::Cancelled;
        return;
    }
    Press(form, "OK");
    modalResult_ = ReadInt(form, nullptr, TK_PROP_MODAL_RESULT).value_or(0);
    outcome_ = modalResult_ != 0 ? TDialogOutcome::ClosedAfterOK : TDialogOutcome::OpenAfterOK;
    out_ << (modalResult_ != 0
                 ? "the dialog closed (modal result " + std::to_string(modalResult_) + ")"
                 : std::string("the dialog stayed open"))
         << std::endl;
}

std::optional<std::string> TDialogDriver::Apply(tk_form* handle, const TControlSetting& setting) {
    const std::string& name = setting.Control;
    const char* control = name.c_str();
    const std::optional<std::string> kind = ReadString(handle, control, TK_PROP_CLASS);
    if (!kind)
        return "the dialog has no control named " + name;
    if (auto reason = Unreachable(handle, name))
        return reason;

    if (const auto count = ReadInt(handle, control, TK_PROP_ITEM_COUNT)) {
        for (int i = 0; i < *count; ++i)
            if (SameText(Shown(ItemCaption(handle, control, i)), setting.Value))
                return Failure(tk_choose_item(handle, control, i), name);
        if (const auto index = ParseIndex(setting.Value); index && *index >= 0 && *index < *count)
            return Failure(tk_choose_item(handle, control, *index), name);
        std::string items;
        for (int i = 0; i < *count; ++i)
            items += (i ? ", " : "") + Shown(ItemCaption(handle, control, i));
        return name + " has no item " + Quoted(setting.Value) + " (items: " + items + ")";
    }
    if (const auto checked = ReadInt(handle, control, TK_PROP_CHECKED)) {
        if (setting.Value != "on" && setting.Value != "off")
            return name + " takes on or off";
        const int wanted = setting.Value == "on" ? 1 : 0;
        if (*checked == wanted)
            return std::nullopt;
        if (auto reason = Failure(tk_click(handle, control), name))
            return reason;
        if (ReadInt(handle, control, TK_PROP_CHECKED).value_or(-1) != wanted)
            return name + " cannot be switched off by clicking it (choose another one instead)";
        return std::nullopt;
    }
    if (ReadString(handle, control, TK_PROP_TEXT))
        return Failure(tk_type_text(handle, control, setting.Value.c_str()), name);
    return name + " is a " + *kind +
           ": --set takes value and text fields, check boxes, radio buttons and radio groups";
}

void TDialogDriver::PrintControls(tk_form* handle) {
    const std::vector<std::string> names = ControlNames(handle);
    std::map<std::string, int> uses;
    for (const std::string& name : names)
        ++uses[name];

    for (const std::string& name : names) {
        if (name.empty() || uses[name] > 1) {
            out_ << (name.empty() ? "(unnamed)" : name) << " (not reachable by name)\n";
            continue;
        }
        const char* control = name.c_str();
        out_ << name << ' ' << ReadString(handle, control, TK_PROP_CLASS).value_or("?")
             << " caption=" << Quoted(ReadString(handle, control, TK_PROP_CAPTION).value_or(""));
        if (const auto index = ReadInt(handle, control, TK_PROP_ITEM_INDEX))
            out_ << " item=" << *index
                 << (*index >= 0 ? " " + Quoted(Shown(ItemCaption(handle, control, *index))) : "");
        else if (const auto checked = ReadInt(handle, control, TK_PROP_CHECKED))
            out_ << " checked=" << (*checked ? "on" : "off");
        if (const auto value = ReadString(handle, control, TK_PROP_VALUE))
            out_ << " value=" << *value;
        if (const auto text = ReadString(handle, control, TK_PROP_TEXT))
            out_ << " text=" << Quoted(*text);
        out_ << " enabled="
             << (ReadInt(handle, control, TK_PROP_ENABLED).value_or(0) ? "yes" : "no")
             << " visible="
             << (ReadInt(handle, control, TK_PROP_VISIBLE).value_or(0) ? "yes" : "no") << '\n';
    }
    out_ << std::flush;
}

void TDialogDriver::Press(tk_form* handle, const char* caption) {
    for (const std::string& name : ControlNames(handle)) {
        if (name.empty() || ReadString(handle, name.c_str(), TK_PROP_CLASS) != "TButton" ||
            Shown(ReadString(handle, name.c_str(), TK_PROP_CAPTION).value_or("")) != caption)
            continue;
        out_ << caption << " pressed" << std::endl;
        if (auto reason = Failure(tk_click(handle, name.c_str()), name))
            err_ << "orvalis-host: " << caption << " could not be pressed: " << *reason << '\n';
        return;
    }
    err_ << "orvalis-host: the dialog has no " << caption << " button\n";
}

} // namespace orvalis
