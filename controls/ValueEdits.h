#pragma once
// Numeric edit fields: the text may be a plain number or an expression, the value always stays
// inside Min..Max, text that gives no valid value shows in a warning colour, and optional spin
// buttons step the value. No error leaves a field: callers test TextValid(). UI thread only.
#include "controls/ExpressionEval.h"
#include "controls/Spin.h"
#include "toolkit/Controls.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace stipplor {

class TValueEdit : public toolkit::TEdit {
public:
    static constexpr int SpinWidth = 15;
    static constexpr int SpinHeight = 17;
    static constexpr toolkit::TColor DefaultInvalidTextColor = 128;

    explicit TValueEdit(std::string name = {});
    ~TValueEdit() override;
    const char* ClassName() const noexcept override { return "TValueEdit"; }

    // Forgets the length remembered by the automatic alignment switch.
    void SetAlignment(toolkit::TAlignment alignment) noexcept override;
    bool SimpleValue() const noexcept { return simpleValue_; }
    void SetSimpleValue(bool simple) noexcept { simpleValue_ = simple; }
    toolkit::TColor InvalidTextColor() const noexcept { return invalidTextColor_; }
    void SetInvalidTextColor(toolkit::TColor color);
    bool FocusOnMouseWheel() const noexcept { return focusOnMouseWheel_; }
    void SetFocusOnMouseWheel(bool focus) noexcept { focusOnMouseWheel_ = focus; }
    // True while the text shows a valid in-range value in the normal text colour.
    bool TextValid() const noexcept { return textValid_; }
    TSpinButton* SpinButton() const noexcept { return spin_; }

    // Step the value, leave the caret at the end of the text and raise OnChangeValue.
    virtual void StepUp() = 0;
    virtual void StepDown() = 0;

    // The part of the field the text may use: narrowed by the spin button when there is one.
    struct TTextArea {
        int Left, Top, Right, Bottom;
    };
    TTextArea TextArea() const noexcept;

    toolkit::TNotifyEvent OnChangeValue;

    void SetBounds(int left, int top, int width, int height) override;
    // With a spin button, Up and Down step the value before the edit's own handling.
    void KeyDown(toolkit::TKey& key, toolkit::TShiftState shift) override;
    // Offered to the form-wide wheel handler first; a field with a spin button then spins.
    bool DoMouseWheel(toolkit::TShiftState shift, int wheelDelta,
                      toolkit::TPoint mousePos) override;

protected:
    // Parses or evaluates the text and hands the number (none: invalid text) to ApplyReading.
    virtual void ReadText() = 0;
    // store(v) keeps v (in range or clamped) as the value and tells whether the value changed.
    void ApplyReading(std::optional<Extended> number, Extended min, Extended max,
                      const std::function<bool(Extended)>& store);
    // Shows a value's text without treating it as typed; restores a valid look.
    void ShowText(std::string text);
    // Steps in their direction with the Shift state of the input that asked for them.
    void StepBy(bool up, toolkit::TShiftState shift);
    bool ShiftHeld() const noexcept { return (stepShift_ & toolkit::ssShift) != 0; }
    void AfterStep();
    void RaiseChangeValue();
    void MarkValid();
    void MarkInvalid();
    // Creates or frees the spin button; the window is recreated either way.
    void UpdateSpinButton(bool wanted);

    void Change() override;
    void CreateWnd() override;
    void EnabledChanged() override;

    TSymbolTable& Symbols() noexcept { return *symbols_; }

private:
    void PlaceSpinButton();
    void SwitchAlignment();
    void ApplyAlignment(toolkit::TAlignment alignment);
    void InstallFormWheelHandler();

    TSymbolTable* symbols_;
    TSpinButton* spin_ = nullptr;
    // A spin button freed while one of its own clicks runs lives on until that click ends.
    std::unique_ptr<toolkit::TControl> retiredSpin_;
    toolkit::TColor invalidTextColor_ = DefaultInvalidTextColor;
    toolkit::TShiftState stepShift_ = 0;
    std::size_t rememberedLength_ = 0;
    bool simpleValue_ = false;
    bool focusOnMouseWheel_ = true;
    bool textValid_ = true;
    bool showing_ = false;
};

class TIntegerEdit final : public TValueEdit {
public:
    explicit TIntegerEdit(std::string name = {});
    const char* ClassName() const noexcept override { return "TIntegerEdit"; }

    int32_t Value() const noexcept { return value_; }
    // Clamps to Min..Max and shows it; raises no OnChangeValue.
    void SetValue(int32_t value);
    int32_t Max() const noexcept { return max_; }
    void SetMax(int32_t max);
    int32_t Min() const noexcept { return min_; }
    void SetMin(int32_t min);
    // 0: no spin button; negative: steps multiply and divide by its magnitude.
    int32_t SpinIncrement() const noexcept { return spinIncrement_; }
    void SetSpinIncrement(int32_t increment);

    void StepUp() override;
    void StepDown() override;
    std::optional<std::string> AutomationValue() const override;

protected:
    void ReadText() override;

private:
    void ShowValue();
    int32_t Clamp(int64_t value) const noexcept;

    int32_t value_ = 0;
    int32_t max_ = 100;
    int32_t min_ = 0;
    int32_t spinIncrement_ = 0;
};

class TFloatEdit final : public TValueEdit {
public:
    explicit TFloatEdit(std::string name = {});
    const char* ClassName() const noexcept override { return "TFloatEdit"; }

    Extended Value() const noexcept { return value_; }
    // Clamps to Min..Max (a value that is not <= Max, NaN included, gives Max) and shows it;
    // raises no OnChangeValue; does nothing for the present value while the text is valid.
    void SetValue(Extended value);
    Extended Max() const noexcept { return max_; }
    void SetMax(Extended max);
    Extended Min() const noexcept { return min_; }
    void SetMin(Extended min);
    // 0: no spin button; negative: steps multiply and divide by its magnitude; Shift held
    // makes a positive step a tenth.
    Extended SpinIncrement() const noexcept { return spinIncrement_; }
    void SetSpinIncrement(Extended increment);
    const std::string& FormatString() const noexcept { return formatString_; }
    void SetFormatString(std::string format);

    void StepUp() override;
    void StepDown() override;
    std::optional<std::string> AutomationValue() const override;

protected:
    void ReadText() override;

private:
    void ShowValue();
    Extended Clamp(Extended value) const noexcept;

    Extended value_ = 0;
    Extended max_ = 100;
    Extended min_ = 0;
    Extended spinIncrement_ = 0;
    std::string formatString_ = "0.##";
};

} // namespace stipplor
