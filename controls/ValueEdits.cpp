#include "controls/ValueEdits.h"

#include "controls/NumberFormat.h"
#include "core/LongDouble.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace stipplor {

using toolkit::TAlignment;
using toolkit::TControl;
using toolkit::TKey;
using toolkit::TPoint;
using toolkit::TShiftState;

namespace {

// ---- text to number ----------------------------------------------------------------------

std::optional<Extended> ParseInteger(std::string_view text) {
    std::string trimmed = TrimBlanks(text);
    std::string_view digits = trimmed;
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1);
    int32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return static_cast<Extended>(value);
}

std::optional<Extended> ParseFloat(std::string_view text) {
    const std::string trimmed = TrimBlanks(CommaToPoint(text));
    std::string_view number = trimmed;
    if (!number.empty() && number.front() == '+')
        number.remove_prefix(1);
    // from_chars also reads "inf" and "nan", which are no plain numbers.
    const bool plain = std::all_of(number.begin(), number.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
    });
    Extended value = 0;
    const auto [end, error] =
        LongDoubleFromChars(number.data(), number.data() + number.size(), value);
    if (number.empty() || !plain || error != std::errc() || end != number.data() + number.size())
        return std::nullopt;
    return value;
}

std::optional<Extended> EvaluateText(const std::string& text, TSymbolTable& symbols) {
    try {
        return Evaluate(text, &symbols, true);
    } catch (const std::exception&) {
        return std::nullopt; // any failure only marks the text invalid
    }
}

// ---- the form-wide wheel handler ---------------------------------------------------------

TValueEdit* SpinningField(toolkit::TWinControl* control) {
    if (auto* field = dynamic_cast<TValueEdit*>(control); field && field->SpinButton())
        return field;
    // Over the spin button itself the wheel belongs to its field.
    if (dynamic_cast<TSpinButton*>(control) != nullptr)
        return SpinningField(control->Parent());
    return nullptr;
}

// Focuses the control under the pointer instead of leaving the wheel with the focused one:
// a value field with a spin button also steps, a radio group only takes the focus.
void FormMouseWheel(TControl&, TShiftState, int wheelDelta, TPoint, bool& handled) {
    toolkit::TWinControl* target = toolkit::Mouse().WinControlUnderPointer();
    if (TValueEdit* field = SpinningField(target))
        target = field;
    if (target == nullptr || target->Focused() || !target->CanFocus())
        return;
    if (const toolkit::TCustomForm* form = target->Form(); form && form->ActiveControl() == target)
        return;
    if (TValueEdit* field = SpinningField(target)) {
        field->SetFocus();
        if (wheelDelta > 0)
            field->StepUp();
        else if (wheelDelta < 0)
            field->StepDown();
        handled = true;
    } else if (dynamic_cast<toolkit::TRadioGroup*>(target) != nullptr) {
        target->SetFocus();
        handled = true;
    }
}

} // namespace

// ---- TValueEdit --------------------------------------------------------------------------

TValueEdit::TValueEdit(std::string name) : TEdit(std::move(name)), symbols_(&GlobalSymbolTable()) {
    SetTabStop(true);
}

TValueEdit::~TValueEdit() = default;

void TValueEdit::SetAlignment(TAlignment alignment) noexcept {
    rememberedLength_ = 0;
    try {
        ApplyAlignment(alignment);
    } catch (...) {
        // Recreating a headless window only fails when memory runs out; the alignment is set.
    }
}

void TValueEdit::ApplyAlignment(TAlignment alignment) {
    TEdit::SetAlignment(alignment);
    RecreateWnd();
}

void TValueEdit::SetInvalidTextColor(toolkit::TColor color) {
    invalidTextColor_ = color;
    if (!textValid_)
        Font().Color = color;
}

TValueEdit::TTextArea TValueEdit::TextArea() const noexcept {
    if (spin_ == nullptr)
        return {0, 0, ClientWidth(), ClientHeight()};
    return {0, 0, ClientWidth() - spin_->Width() - 1, ClientHeight() + 1};
}

void TValueEdit::SetBounds(int left, int top, int width, int height) {
    TEdit::SetBounds(left, top, width, height);
    PlaceSpinButton();
}

void TValueEdit::PlaceSpinButton() {
    if (spin_ == nullptr)
        return;
    const bool borders3D = Ctl3D() && BorderStyle() == toolkit::TBorderStyle::Single;
    const int y = borders3D ? 0 : 1;
    const int x = Width() - (borders3D ? 4 : 1) - spin_->Width();
    spin_->SetBounds(x, y, spin_->Width(), std::max(Height() + y - 4, 0));
}

void TValueEdit::UpdateSpinButton(bool wanted) {
    retiredSpin_.reset();
    if (wanted && spin_ == nullptr) {
        spin_ = &Add<TSpinButton>("SpinButton");
        spin_->SetBounds(0, 0, SpinWidth, SpinHeight);
        spin_->SetFocusControl(this);
        spin_->OnUpClick = [this](TControl&) { StepBy(true, spin_->UpButton().ClickShift); };
        spin_->OnDownClick = [this](TControl&) { StepBy(false, spin_->DownButton().ClickShift); };
        spin_->SetEnabled(Enabled());
        PlaceSpinButton();
    } else if (!wanted && spin_ != nullptr) {
        retiredSpin_ = RemoveControl(*spin_);
        spin_ = nullptr;
    }
    RecreateWnd();
}

void TValueEdit::EnabledChanged() {
    TEdit::EnabledChanged();
    if (spin_ != nullptr)
        spin_->SetEnabled(Enabled());
}

void TValueEdit::CreateWnd() {
    TEdit::CreateWnd();
    if (AutoSelect())
        SelectAll();
    if (focusOnMouseWheel_ && spin_ != nullptr)
        InstallFormWheelHandler();
}

void TValueEdit::InstallFormWheelHandler() {
    toolkit::TCustomForm* form = Form();
    if (form != nullptr && !form->OnMouseWheel)
        form->OnMouseWheel = FormMouseWheel;
}

void TValueEdit::KeyDown(TKey& key, TShiftState shift) {
    if (spin_ != nullptr && (key == toolkit::vkUp || key == toolkit::vkDown))
        StepBy(key == toolkit::vkUp, shift);
    TEdit::KeyDown(key, shift);
}

bool TValueEdit::DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) {
    if (TEdit::DoMouseWheel(shift, wheelDelta, mousePos))
        return true;
    if (spin_ == nullptr || wheelDelta == 0)
        return false;
    StepBy(wheelDelta > 0, shift);
    return true;
}

void TValueEdit::StepBy(bool up, TShiftState shift) {
    struct Reset {
        TShiftState& state;
        ~Reset() { state = 0; }
    } reset{stepShift_};
    stepShift_ = shift;
    if (up)
        StepUp();
    else
        StepDown();
}

void TValueEdit::AfterStep() {
    SetSelStart(static_cast<int>(Text().size()));
    RaiseChangeValue();
}

void TValueEdit::RaiseChangeValue() {
    if (OnChangeValue)
        OnChangeValue(*this);
}

// The headless field has no formatting rectangle to reset nor a caret to scroll into view;
// the colour and the flag are the whole switch.
void TValueEdit::MarkValid() {
    if (textValid_)
        return;
    Font().Color = toolkit::clWindowText;
    textValid_ = true;
}

void TValueEdit::MarkInvalid() {
    if (!textValid_)
        return;
    Font().Color = invalidTextColor_;
    textValid_ = false;
}

void TValueEdit::ShowText(std::string text) {
    struct Showing {
        bool& flag;
        ~Showing() { flag = false; }
    } showing{showing_};
    showing_ = true;
    MarkValid();
    SetText(std::move(text));
}

void TValueEdit::Change() {
    TEdit::Change();
    if (!showing_)
        ReadText();
    SwitchAlignment();
}

void TValueEdit::ApplyReading(std::optional<Extended> number, Extended min, Extended max,
                              const std::function<bool(Extended)>& store) {
    if (!number) {
        if (textValid_) {
            MarkInvalid();
            RaiseChangeValue();
        }
        return;
    }
    if (*number >= min && *number <= max) {
        MarkValid();
        store(*number);
        RaiseChangeValue();
        return;
    }
    MarkInvalid();
    if (store(*number < min ? min : max))
        RaiseChangeValue();
}

// A right-aligned text too long for one line turns left-aligned so that its start stays in
// view; once it is short again it goes back.
void TValueEdit::SwitchAlignment() {
    if (spin_ == nullptr)
        return;
    const TTextArea area = TextArea();
    const bool wraps = toolkit::TextWidth(Text(), Font().Height) > area.Right - area.Left;
    if (Alignment() == TAlignment::RightJustify && wraps) {
        const bool keepCaret = SelLength() == 0;
        const int caret = CaretPos();
        ApplyAlignment(TAlignment::LeftJustify);
        if (keepCaret)
            SetCaretPos(caret);
        rememberedLength_ = Text().size();
    } else if (Alignment() == TAlignment::LeftJustify && rememberedLength_ > 0 && !wraps &&
               Text().size() < rememberedLength_) {
        ApplyAlignment(TAlignment::RightJustify);
    }
}

// ---- TIntegerEdit ------------------------------------------------------------------------

TIntegerEdit::TIntegerEdit(std::string name) : TValueEdit(std::move(name)) {
    ShowValue();
}

int32_t TIntegerEdit::Clamp(int64_t value) const noexcept {
    if (value > max_)
        return max_;
    if (value < min_)
        return min_;
    return static_cast<int32_t>(value);
}

void TIntegerEdit::SetValue(int32_t value) {
    value_ = Clamp(value);
    ShowValue();
}

void TIntegerEdit::SetMax(int32_t max) {
    max_ = max;
    if (value_ > max_) {
        value_ = max_;
        ShowValue();
    }
}

void TIntegerEdit::SetMin(int32_t min) {
    min_ = min;
    if (value_ < min_) {
        value_ = min_;
        ShowValue();
    }
}

void TIntegerEdit::SetSpinIncrement(int32_t increment) {
    spinIncrement_ = increment;
    UpdateSpinButton(increment != 0);
}

// In 64 bits, so that a product or a difference beyond 32 bits is clamped, not wrapped.
void TIntegerEdit::StepUp() {
    const int64_t increment = spinIncrement_;
    SetValue(Clamp(increment < 0 ? value_ * -increment : value_ + increment));
    AfterStep();
}

void TIntegerEdit::StepDown() {
    const int64_t increment = spinIncrement_;
    SetValue(Clamp(increment < 0 ? value_ / -increment : value_ - increment));
    AfterStep();
}

std::optional<std::string> TIntegerEdit::AutomationValue() const {
    return std::to_string(value_);
}

void TIntegerEdit::ShowValue() {
    ShowText(std::to_string(value_));
}

void TIntegerEdit::ReadText() {
    std::optional<Extended> number;
    if (SimpleValue()) {
        number = ParseInteger(Text());
    } else if (const auto result = EvaluateText(Text(), Symbols())) {
        const Extended rounded = std::nearbyint(*result);
        if (!(std::fabs(rounded - *result) > 0.0001L))
            number = rounded;
    }
    ApplyReading(number, min_, max_, [this](Extended value) {
        const auto stored = static_cast<int32_t>(value);
        const bool changed = stored != value_;
        value_ = stored;
        return changed;
    });
}

// ---- TFloatEdit --------------------------------------------------------------------------

TFloatEdit::TFloatEdit(std::string name) : TValueEdit(std::move(name)) {
    ShowValue();
}

Extended TFloatEdit::Clamp(Extended value) const noexcept {
    if (!(value <= max_))
        return max_;
    if (value < min_)
        return min_;
    return value;
}

void TFloatEdit::SetValue(Extended value) {
    if (value == value_ && TextValid())
        return;
    value_ = Clamp(value);
    ShowValue();
}

void TFloatEdit::SetMax(Extended max) {
    max_ = max;
    if (value_ > max_) {
        value_ = max_;
        ShowValue();
    }
}

void TFloatEdit::SetMin(Extended min) {
    min_ = min;
    if (value_ < min_) {
        value_ = min_;
        ShowValue();
    }
}

void TFloatEdit::SetSpinIncrement(Extended increment) {
    spinIncrement_ = increment;
    UpdateSpinButton(increment != 0);
}

void TFloatEdit::SetFormatString(std::string format) {
    formatString_ = std::move(format);
    ShowValue();
}

void TFloatEdit::StepUp() {
    const Extended increment = spinIncrement_;
    if (increment < 0 || std::isnan(increment))
        SetValue(value_ * std::fabs(increment));
    else
        SetValue(value_ + (ShiftHeld() ? increment / 10 : increment));
    AfterStep();
}

void TFloatEdit::StepDown() {
    const Extended increment = spinIncrement_;
    if (increment < 0)
        SetValue(value_ / std::fabs(increment));
    else
        SetValue(value_ - (ShiftHeld() ? increment / 10 : increment));
    AfterStep();
}

std::optional<std::string> TFloatEdit::AutomationValue() const {
    std::array<char, 64> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value_);
    return std::string(text.data(), result.ptr);
}

void TFloatEdit::ShowValue() {
    ShowText(FormatFloat(formatString_, value_));
}

void TFloatEdit::ReadText() {
    const std::optional<Extended> number =
        SimpleValue() ? ParseFloat(Text()) : EvaluateText(Text(), Symbols());
    ApplyReading(number, min_, max_, [this](Extended value) {
        const bool changed = !(value == value_);
        value_ = value;
        return changed;
    });
}

} // namespace stipplor
