#pragma once
// The application object, the screen and its cursor. UI thread only.
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

namespace toolkit {

class TApplication {
public:
    // The window that owns every dialog and message box of the process (0 for none). A host
    // hands its main window to the plug-in, which sets it here.
    std::intptr_t Handle() const noexcept { return handle_; }
    void SetHandle(std::intptr_t handle) noexcept { handle_ = handle; }

    const std::string& Title() const noexcept { return title_; }
    void SetTitle(std::string title) { title_ = std::move(title); }

    // Reports the exception being handled (call it inside a catch block): the silent abort
    // shows nothing; anything else shows ErrorBoxText(message) in a box captioned "Error" with
    // the error icon and one "OK" button. When OnException is set it gets the exception
    // instead. A module with a runtime of its own (a Windows DLL linked statically) sees only
    // the exceptions it caught itself: others pass theirs with the second form.
    void HandleException() noexcept;
    void HandleException(std::exception_ptr Error) noexcept;
    void ShowException(const std::exception& error);

    // Runs `action` as the message loop runs an event handler: an exception leaving it is
    // reported through HandleException. Returns false when that happened.
    bool Dispatch(const std::function<void()>& action) noexcept;

    std::function<void(std::exception_ptr)> OnException;

private:
    std::intptr_t handle_ = 0;
    std::string title_;
};

TApplication& Application();

// The text of the error box: the message with a full stop appended unless it ends in one.
std::string ErrorBoxText(std::string_view message);

using TCursor = int;
inline constexpr TCursor crDefault = 0;
inline constexpr TCursor crArrow = -2;
inline constexpr TCursor crHourGlass = -11;

class TScreen {
public:
    TCursor Cursor() const noexcept { return cursor_; }
    void SetCursor(TCursor cursor) noexcept { cursor_ = cursor; }
    // A fixed desktop, so that centring is reproducible.
    int Width() const noexcept { return 1920; }
    int Height() const noexcept { return 1080; }

private:
    TCursor cursor_ = crDefault;
};

TScreen& Screen();

// Shows the busy cursor for its lifetime and then restores the one shown before.
class TBusyCursor {
public:
    TBusyCursor() noexcept : previous_(Screen().Cursor()) { Screen().SetCursor(crHourGlass); }
    ~TBusyCursor() { Screen().SetCursor(previous_); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    TCursor previous_;
};

} // namespace toolkit
