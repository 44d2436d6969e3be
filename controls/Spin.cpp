#include "controls/Spin.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace stipplor {

using toolkit::TBitmap;
using toolkit::TColor;
using toolkit::TKey;
using toolkit::TMouseButton;
using toolkit::TShiftState;

// ---- TTimerSpeedButton -------------------------------------------------------------------

TTimerSpeedButton::TTimerSpeedButton(std::string name, toolkit::TClock& clock)
    : TSpeedButton(std::move(name)), timer_(clock) {
    timer_.SetEnabled(false);
    timer_.SetOnTimer([this](toolkit::TTimer&) { Repeat(); });
}

// A press only arms the repeat; the click itself comes with the release or the repeats.
void TTimerSpeedButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (button == TMouseButton::Left)
        ClickShift = shift;
    TSpeedButton::MouseDown(button, shift, x, y);
    if (TimerAllowed && Pressed()) {
        timer_.SetInterval(FirstRepeatDelay);
        timer_.SetEnabled(true);
    }
}

void TTimerSpeedButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    StopRepeating();
    TSpeedButton::MouseUp(button, shift, x, y);
}

void TTimerSpeedButton::CancelMode() {
    StopRepeating();
    TSpeedButton::CancelMode();
}

void TTimerSpeedButton::Repeat() {
    timer_.SetInterval(RepeatInterval);
    if (!Pressed() || !MouseCapture()) {
        StopRepeating();
        return;
    }
    try {
        Click();
    } catch (...) {
        StopRepeating();
        throw;
    }
}

void TTimerSpeedButton::StopRepeating() noexcept {
    timer_.SetEnabled(false);
}

// ---- glyphs ------------------------------------------------------------------------------

namespace {

constexpr TColor BlackColor = toolkit::RGBColor(0, 0, 0);
constexpr TColor GreyColor = toolkit::RGBColor(128, 128, 128);
constexpr TColor WhiteColor = toolkit::RGBColor(255, 255, 255);
constexpr TColor FaceColor = toolkit::RGBColor(192, 192, 192);

} // namespace

std::shared_ptr<TBitmap> MakeGlyphPair(const TBitmap& arrow) {
    const int width = arrow.Width();
    const int height = std::max(arrow.Height() - 1, 0);
    auto pair = std::make_shared<TBitmap>();
    pair->SetPixelFormat(toolkit::pf32bit);
    pair->SetSize(2 * width, height);
    auto& canvas = pair->Canvas();
    std::vector<uint8_t> row(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        arrow.ReadRowBGR(y + 1, 0, width, row.data());
        canvas.WriteRowBGR(0, y, row.data(), width);
        canvas.WriteRowBGR(width, y, row.data(), width);
    }
    // Embossing: black pixels turn grey with a white highlight to their right.
    for (int y = 0; y < height; ++y)
        for (int x = width; x < 2 * width - 1; ++x) {
            if (canvas.Pixel(x, y) != BlackColor)
                continue;
            canvas.SetPixel(x, y, GreyColor);
            if (canvas.Pixel(x + 1, y) != BlackColor)
                canvas.SetPixel(x + 1, y, WhiteColor);
        }
    return pair;
}

std::shared_ptr<TBitmap> DefaultSpinGlyph(bool up) {
    constexpr int GlyphWidth = 9;
    constexpr int GlyphHeight = 6; // the first row is dropped by MakeGlyphPair
    auto glyph = std::make_shared<TBitmap>();
    glyph->SetPixelFormat(toolkit::pf24bit);
    glyph->SetSize(GlyphWidth, GlyphHeight);
    auto& canvas = glyph->Canvas();
    canvas.FillRect(0, 0, GlyphWidth, GlyphHeight, FaceColor);
    for (int row = 0; row < 4; ++row) {
        const int y = 1 + (up ? row : 3 - row);
        canvas.FillRect(1 + 3 - row, y, 1 + 4 + row, y + 1, BlackColor);
    }
    return glyph;
}

// ---- TSpinButton -------------------------------------------------------------------------

TSpinButton::TSpinButton(std::string name, toolkit::TClock& clock) : TWinControl(std::move(name)) {
    up_ = &Add<TTimerSpeedButton>("UpButton", clock);
    down_ = &Add<TTimerSpeedButton>("DownButton", clock);
    focused_ = up_;
    for (TTimerSpeedButton* arrow : {up_, down_}) {
        arrow->TimerAllowed = true;
        arrow->OnMouseDown = [this, arrow](toolkit::TControl&, TMouseButton button, TShiftState,
                                           int, int) {
            if (button == TMouseButton::Left)
                ArrowPressed(*arrow);
        };
        arrow->OnClick = [this, arrow](toolkit::TControl&) { ArrowClicked(*arrow); };
    }
    SetUpGlyph(MakeGlyphPair(*DefaultSpinGlyph(true)));
    SetDownGlyph(MakeGlyphPair(*DefaultSpinGlyph(false)));
    SetUpNumGlyphs(2);
    SetDownNumGlyphs(2);
    SetBounds(0, 0, 20, 25);
}

TSpinButton::~TSpinButton() = default;

void TSpinButton::SetFocusedButton(TTimerSpeedButton& button) {
    if (&button != up_ && &button != down_)
        return;
    focused_ = &button;
    ShowFocus(Focused());
}

void TSpinButton::SetUpGlyph(std::shared_ptr<TBitmap> glyph) {
    up_->SetGlyph(glyph ? std::move(glyph) : MakeGlyphPair(*DefaultSpinGlyph(true)));
}

void TSpinButton::SetDownGlyph(std::shared_ptr<TBitmap> glyph) {
    down_->SetGlyph(glyph ? std::move(glyph) : MakeGlyphPair(*DefaultSpinGlyph(false)));
}

toolkit::TWinControl* TSpinButton::FocusControl() const {
    if (focusControl_ == nullptr)
        return nullptr;
    const toolkit::TCustomForm* form = Form();
    bool present = false;
    if (form != nullptr) {
        const std::vector<toolkit::TControl*> all = form->AllControls();
        present = std::find(all.begin(), all.end(), focusControl_) != all.end();
    }
    if (!present)
        focusControl_ = nullptr;
    return focusControl_;
}

void TSpinButton::SetBounds(int left, int top, int width, int height) {
    width = std::max(width, MinWidth);
    TWinControl::SetBounds(left, top, width, height);
    const int upperHeight = (height + 1) / 2;
    up_->SetBounds(0, 0, width, upperHeight);
    down_->SetBounds(0, upperHeight - 1, width, height - upperHeight + 1);
}

void TSpinButton::KeyDown(TKey& key, TShiftState shift) {
    TWinControl::KeyDown(key, shift);
    TTimerSpeedButton* target = nullptr;
    if (key == toolkit::vkSpace) {
        target = focused_;
    } else if (key == toolkit::vkUp || key == toolkit::vkDown) {
        target = key == toolkit::vkUp ? up_ : down_;
        SetFocusedButton(*target);
    }
    if (target == nullptr || !target->IsEnabled())
        return;
    key = 0;
    target->ClickShift = shift;
    target->Click();
}

void TSpinButton::DoEnter() {
    TWinControl::DoEnter();
    ShowFocus(true);
}

void TSpinButton::DoExit() {
    TWinControl::DoExit();
    ShowFocus(false);
}

void TSpinButton::ShowFocus(bool focused) noexcept {
    up_->FocusRectShown = focused && focused_ == up_;
    down_->FocusRectShown = focused && focused_ == down_;
}

void TSpinButton::ArrowPressed(TTimerSpeedButton& arrow) {
    SetFocusedButton(arrow);
    if (toolkit::TWinControl* target = FocusControl(); target && target->CanFocus()) {
        if (!target->Focused())
            target->SetFocus();
    } else if (TabStop() && CanFocus() && !Focused()) {
        SetFocus();
    }
}

void TSpinButton::ArrowClicked(TTimerSpeedButton& arrow) {
    const toolkit::TNotifyEvent& event = &arrow == up_ ? OnUpClick : OnDownClick;
    if (event)
        event(*this);
}

} // namespace stipplor
