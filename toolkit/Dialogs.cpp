#include "toolkit/Dialogs.h"

#include "toolkit/Agents.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace toolkit {

namespace {

bool Contains(const std::vector<TMsgDlgBtn>& buttons, TMsgDlgBtn button) {
    return std::find(buttons.begin(), buttons.end(), button) != buttons.end();
}

std::optional<TMsgDlgBtn> NaturalCancelButton(const std::vector<TMsgDlgBtn>& buttons) {
    for (TMsgDlgBtn candidate : {TMsgDlgBtn::Cancel, TMsgDlgBtn::No, TMsgDlgBtn::OK})
        if (Contains(buttons, candidate))
            return candidate;
    if (buttons.size() == 1)
        return buttons.front();
    return std::nullopt;
}

const char* TypeCaption(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::Warning:
        return "Warning";
    case TMsgDlgType::Error:
        return "Error";
    case TMsgDlgType::Information:
        return "Information";
    case TMsgDlgType::Confirmation:
        return "Confirm";
    case TMsgDlgType::Custom:
        break;
    }
    return nullptr;
}

} // namespace

TModalResult ModalResultOf(TMsgDlgBtn button) noexcept {
    switch (button) {
    case TMsgDlgBtn::Yes:
        return mrYes;
    case TMsgDlgBtn::No:
        return mrNo;
    case TMsgDlgBtn::OK:
        return mrOk;
    case TMsgDlgBtn::Cancel:
        return mrCancel;
    case TMsgDlgBtn::Abort:
        return mrAbort;
    case TMsgDlgBtn::Retry:
        return mrRetry;
    case TMsgDlgBtn::Ignore:
        return mrIgnore;
    case TMsgDlgBtn::All:
        return mrAll;
    case TMsgDlgBtn::NoToAll:
        return mrNoToAll;
    case TMsgDlgBtn::YesToAll:
        return mrYesToAll;
    }
    return mrNone;
}

const char* ButtonCaption(TMsgDlgBtn button) noexcept {
    switch (button) {
    case TMsgDlgBtn::Yes:
        return "Yes";
    case TMsgDlgBtn::No:
        return "No";
    case TMsgDlgBtn::OK:
        return "OK";
    case TMsgDlgBtn::Cancel:
        return "Cancel";
    case TMsgDlgBtn::Abort:
        return "Abort";
    case TMsgDlgBtn::Retry:
        return "Retry";
    case TMsgDlgBtn::Ignore:
        return "Ignore";
    case TMsgDlgBtn::All:
        return "All";
    case TMsgDlgBtn::NoToAll:
        return "No to All";
    case TMsgDlgBtn::YesToAll:
        return "Yes to All";
    }
    return "";
}

TMessageBoxParams ResolveMessageBox(TMessageBoxParams params) {
    if (params.Buttons.empty())
        params.Buttons = {TMsgDlgBtn::OK};
    if (!params.DefaultButton || !Contains(params.Buttons, *params.DefaultButton))
        params.DefaultButton = params.Buttons.front();
    if (!params.CancelButton || !Contains(params.Buttons, *params.CancelButton))
        params.CancelButton = NaturalCancelButton(params.Buttons);
    return params;
}

TModalResult ShowMessageBox(TMessageBoxParams params) {
    TMessageBoxParams box = ResolveMessageBox(std::move(params));
    detail::TModalScope modal(&box);
    TModalResult fallback = ModalResultOf(*box.DefaultButton);
    std::optional<TModalResult> answer = detail::AskMessageBoxAgent(box);
    if (!answer) {
        std::fprintf(stderr, "%s: %s\n", box.Caption.c_str(), box.Text.c_str());
        return fallback;
    }
    for (TMsgDlgBtn button : box.Buttons)
        if (ModalResultOf(button) == *answer)
            return *answer;
    return fallback;
}

TModalResult MessageDlg(std::string text, TMsgDlgType type, std::vector<TMsgDlgBtn> buttons,
                        std::optional<TMsgDlgBtn> defaultButton) {
    TMessageBoxParams box;
    const char* caption = TypeCaption(type);
    box.Caption = caption ? caption : Application().Title();
    box.Text = std::move(text);
    box.Icon = type;
    box.Buttons = std::move(buttons);
    box.DefaultButton = defaultButton;
    return ShowMessageBox(std::move(box));
}

bool TOpenDialog::Execute() {
    namespace fs = std::filesystem;
    detail::TModalScope modal(this);
    std::optional<std::optional<std::string>> answer = detail::AskFileDialogAgent(*this);
    if (!answer || !*answer || (*answer)->empty())
        return false;
    std::error_code error;
    fs::path chosen(**answer);
    if (chosen.is_relative()) {
        fs::path base = InitialDir.empty() ? fs::current_path(error) : fs::path(InitialDir);
        if (error)
            return false;
        chosen = base / chosen;
    }
    chosen = fs::absolute(chosen, error).lexically_normal();
    if (error)
        return false;
    if ((Options & ofFileMustExist) && !fs::is_regular_file(chosen, error)) {
        std::fprintf(stderr, "%s\nFile not found.\n", chosen.string().c_str());
        return false;
    }
    if ((Options & ofPathMustExist) && !fs::is_directory(chosen.parent_path(), error)) {
        std::fprintf(stderr, "%s\nPath does not exist.\n", chosen.string().c_str());
        return false;
    }
    FileName = chosen.string();
    return true;
}

} // namespace toolkit
