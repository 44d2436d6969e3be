#include "toolkit/Application.h"

#include "core/Exception.h"
#include "toolkit/Dialogs.h"

#include <cstdio>

namespace toolkit {

TApplication& Application() {
    static TApplication application;
    return application;
}

TScreen& Screen() {
    static TScreen screen;
    return screen;
}

std::string ErrorBoxText(std::string_view message) {
    std::string text(message);
    if (text.empty() || text.back() != '.')
        text += '.';
    return text;
}

void TApplication::ShowException(const std::exception& error) {
    TMessageBoxParams box;
    box.Caption = "Error";
    box.Text = ErrorBoxText(error.what());
    box.Icon = TMsgDlgType::Error;
    box.Buttons = {TMsgDlgBtn::OK};
    ShowMessageBox(std::move(box));
}

void TApplication::HandleException() noexcept {
    HandleException(std::current_exception());
}

void TApplication::HandleException(std::exception_ptr error) noexcept {
    if (!error)
        return;
    try {
        try {
            std::rethrow_exception(error);
        } catch (const stipplor::EAbort&) {
            return;
        } catch (...) {
        }
        if (OnException) {
            OnException(error);
            return;
        }
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            ShowException(e);
        } catch (...) {
            ShowException(stipplor::Exception("Unknown exception"));
        }
    } catch (...) {
        // Reporting failed as well (no memory, a throwing agent): the message loop must go
        // on, so the last resort is standard error.
        std::fputs("Error: an exception could not be reported\n", stderr);
    }
}

bool TApplication::Dispatch(const std::function<void()>& action) noexcept {
    try {
        action();
        return true;
    } catch (...) {
        HandleException();
        return false;
    }
}

} // namespace toolkit
