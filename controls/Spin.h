#pragma once
// Spin buttons: a pair of arrow buttons that repeat their click while held. UI thread only.
#include "toolkit/Clock.h"
#include "toolkit/Controls.h"
#include "toolkit/Graphics.h"

#include <memory>
#include <string>

namespace stipplor {

// A speed button whose click repeats while it is held: the first repeat after 400 ms, then
// every 100 ms, timed by the toolkit clock it was given.
class TTimerSpeedButton final : public toolkit::TSpeedButton {
public:
    static constexpr unsigned FirstRepeatDelay = 400;
    static constexpr unsigned RepeatInterval = 100;

    explicit TTimerSpeedButton(std::string name = {},
                               toolkit::TClock& clock = toolkit::DefaultClock());
    const char* ClassName() const noexcept override { return "TTimerSpeedButton"; }

    bool TimerAllowed = false;
    bool FocusRectShown = false; // the arrow draws a focus rectangle inset by 3 pixels
    // Shift state of the press (or key) that causes the present click.
    toolkit::TShiftState ClickShift = 0;

    bool Repeating() const noexcept { return timer_.Enabled(); }

    void MouseDown(toolkit::TMouseButton button, toolkit::TShiftState shift, int x, int y) override;
    void MouseUp(toolkit::TMouseButton button, toolkit::TShiftState shift, int x, int y) override;
    void CancelMode() override;

private:
    void Repeat();
    void StopRepeating() noexcept;

    toolkit::TTimer timer_;
};

// The glyph pair an arrow shows: the arrow moved up one pixel (losing its last row), then a
// second copy on the right that is turned into the embossed disabled look. 32 bits a pixel.
std::shared_ptr<toolkit::TBitmap> MakeGlyphPair(const toolkit::TBitmap& arrow);
// The arrow pictures used when no glyph is given.
std::shared_ptr<toolkit::TBitmap> DefaultSpinGlyph(bool up);

class TSpinButton final : public toolkit::TWinControl {
public:
    static constexpr int MinWidth = 15;

    explicit TSpinButton(std::string name = {}, toolkit::TClock& clock = toolkit::DefaultClock());
    ~TSpinButton() override;
    const char* ClassName() const noexcept override { return "TSpinButton"; }

    TTimerSpeedButton& UpButton() noexcept { return *up_; }
    TTimerSpeedButton& DownButton() noexcept { return *down_; }
    TTimerSpeedButton& FocusedButton() noexcept { return *focused_; }
    void SetFocusedButton(TTimerSpeedButton& button);

    // nullptr gives the default arrow with its disabled image (two glyphs).
    const std::shared_ptr<toolkit::TBitmap>& UpGlyph() const noexcept { return up_->Glyph(); }
    void SetUpGlyph(std::shared_ptr<toolkit::TBitmap> glyph);
    const std::shared_ptr<toolkit::TBitmap>& DownGlyph() const noexcept { return down_->Glyph(); }
    void SetDownGlyph(std::shared_ptr<toolkit::TBitmap> glyph);
    int UpNumGlyphs() const noexcept { return up_->NumGlyphs(); }
    void SetUpNumGlyphs(int count) noexcept { up_->SetNumGlyphs(count); }
    int DownNumGlyphs() const noexcept { return down_->NumGlyphs(); }
    void SetDownNumGlyphs(int count) noexcept { down_->SetNumGlyphs(count); }

    // The control that takes the keyboard focus when an arrow is pressed; nullptr once that
    // control is no longer on the spin button's form (removed or destroyed).
    toolkit::TWinControl* FocusControl() const;
    void SetFocusControl(toolkit::TWinControl* control) noexcept { focusControl_ = control; }

    toolkit::TNotifyEvent OnUpClick;
    toolkit::TNotifyEvent OnDownClick;

    // At least MinWidth wide; the upper arrow takes the upper half (rounded up), the lower
    // one the rest, overlapping it by one pixel.
    void SetBounds(int left, int top, int width, int height) override;
    // Space clicks the focused arrow; Up and Down focus their arrow and click it.
    void KeyDown(toolkit::TKey& key, toolkit::TShiftState shift) override;
    void DoEnter() override;
    void DoExit() override;

private:
    void ArrowPressed(TTimerSpeedButton& arrow);
    void ArrowClicked(TTimerSpeedButton& arrow);
    void ShowFocus(bool focused) noexcept;

    TTimerSpeedButton* up_;
    TTimerSpeedButton* down_;
    TTimerSpeedButton* focused_;
    mutable toolkit::TWinControl* focusControl_ = nullptr;
};

} // namespace stipplor
