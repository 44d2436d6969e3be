#include "controls/ValueEdits.h"
#include "toolkit/Agents.h"
#include "toolkit/Automation.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace stipplor {
namespace {

using toolkit::TControl;

// Counts OnChangeValue and keeps the moments (on the toolkit clock) it was raised.
struct ChangeLog {
    explicit ChangeLog(TValueEdit& field) {
        field.OnChangeValue = [this](TControl&) { times.push_back(toolkit::DefaultClock().Now()); };
    }
    std::size_t Count() const { return times.size(); }
    std::vector<int64_t> times;
};

using Bounds = std::array<int, 4>;
Bounds Box(const TControl& c) {
    return {c.Left(), c.Top(), c.Width(), c.Height()};
}

// Shows the form modally and runs `act` as the user's session with it.
void RunShown(toolkit::TForm& form, const std::function<void()>& act) {
    toolkit::TScopedAgents agents([&](toolkit::TCustomForm&) { act(); });
    form.ShowModal();
}

// The text, the value read from it and whether the text is valid; the colour must agree.
template <class Field> std::string Reading(const Field& field) {
    const bool valid = field.TextValid();
    EXPECT_EQ(field.Font().Color,
              valid ? toolkit::clWindowText : TValueEdit::DefaultInvalidTextColor);
    std::ostringstream out;
    out << field.Text() << " -> " << field.Value() << (valid ? "" : " invalid");
    return out.str();
}

template <class Field> std::string Typed(Field& field, const char* text) {
    field.SetText(text);
    return Reading(field);
}

TEST(ValueEdits, IntegerFieldReadsTextAndClamps) {
    TIntegerEdit field;
    ChangeLog log(field);
    field.SetMin(2);
    field.SetMax(256);
    EXPECT_EQ(Reading(field), "2 -> 2");
    EXPECT_EQ(log.Count(), 0u); // writes by code raise nothing

    // Out of range: clamped, text kept, warning colour.
    EXPECT_EQ(Typed(field, "300"), "300 -> 256 invalid");
    EXPECT_EQ(log.Count(), 1u);
    field.SetText("3000"); // still clamped to the same value: no event
    EXPECT_EQ(log.Count(), 1u);

    const std::pair<const char*, const char*> cases[] = {
        {"2*8", "16"},           {"16.5", "16 invalid"}, {"16.00001", "16"},     {"", "16 invalid"},
        {"1e30", "256 invalid"}, {"-5", "2 invalid"},    {"1/0", "256 invalid"}, {"$10", "16"}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(Typed(field, text), std::string(text) + " -> " + value);

    const std::size_t before = log.Count();
    field.SetText("abc");
    field.SetText("abd"); // invalid twice: the second raises nothing
    EXPECT_EQ(log.Count(), before + 1);

    field.SetValue(500); // a value shown by code is valid again and raises nothing
    EXPECT_EQ(Reading(field), "256 -> 256");
    EXPECT_EQ(log.Count(), before + 1);
    field.SetMax(100);
    EXPECT_EQ(field.Text(), "100");

    TIntegerEdit simple;
    simple.SetSimpleValue(true);
    for (const char* text : {"2*8", "99999999999", "+"}) {
        simple.SetText(text);
        EXPECT_FALSE(simple.TextValid()) << text;
    }
    EXPECT_EQ(Typed(simple, "+42"), "+42 -> 42");
}

TEST(ValueEdits, FloatFieldReadsTextAndClamps) {
    TFloatEdit field;
    ChangeLog log(field);
    field.SetMax(360);
    field.SetValue(500);
    EXPECT_EQ(Reading(field), "360 -> 360");
    EXPECT_EQ(log.Count(), 0u);
    field.SetValue(std::numeric_limits<Extended>::quiet_NaN());
    EXPECT_EQ(field.Value(), 360);

    field.SetText("100/3");
    field.SetValue(field.Value()); // the present value with a valid text: nothing to do
    EXPECT_EQ(field.Text(), "100/3");
    field.SetValue(1.0L / 3);
    EXPECT_EQ(field.Text(), "0.33");
    field.SetFormatString("0.000");
    EXPECT_EQ(field.Text(), "0.333");

    EXPECT_EQ(Typed(field, "1/0"), "1/0 -> 360 invalid"); // infinite: out of range
    EXPECT_EQ(Typed(field, "-1"), "-1 -> 0 invalid");

    field.SetSimpleValue(true);
    EXPECT_EQ(Typed(field, "1,5"), "1,5 -> 1.5");
    for (const char* text : {"nan", "1+1", "1,5,5"}) {
        field.SetText(text);
        EXPECT_FALSE(field.TextValid()) << text;
    }
    EXPECT_EQ(field.Value(), 1.5L);
}

// Steps the field up ('+') and down ('-') in turn and gives the value reached.
template <class Field> auto Step(Field& field, std::string_view moves) {
    for (char move : moves)
        move == '+' ? field.StepUp() : field.StepDown();
    return field.Value();
}

TEST(ValueEdits, SpinSteps) {
    TIntegerEdit field;
    ChangeLog log(field);
    field.SetMax(1000);
    EXPECT_EQ(field.SpinButton(), nullptr);
    field.SetSpinIncrement(-2);
    ASSERT_NE(field.SpinButton(), nullptr);
    field.SetValue(16);
    EXPECT_EQ(Step(field, "+"), 32);
    field.SetValue(7);
    EXPECT_EQ(Step(field, "-"), 3);
    EXPECT_EQ(log.Count(), 2u);
    EXPECT_EQ(field.SelStart(), static_cast<int>(field.Text().size())); // caret at the end

    field.SetSpinIncrement(5);
    field.SetValue(998);
    EXPECT_EQ(Step(field, "+"), 1000);
    field.SetMax(std::numeric_limits<int32_t>::max());
    field.SetSpinIncrement(std::numeric_limits<int32_t>::min());
    field.SetValue(2'000'000'000);
    // Would overflow 32 bits: clamped instead.
    EXPECT_EQ(Step(field, "+"), std::numeric_limits<int32_t>::max());
    field.SetSpinIncrement(0);
    EXPECT_EQ(field.SpinButton(), nullptr);

    TFloatEdit real;
    real.SetValue(22);
    real.SetSpinIncrement(-2);
    EXPECT_EQ(Step(real, "+"), 44);
    EXPECT_EQ(Step(real, "-"), 22);
    real.SetSpinIncrement(std::numeric_limits<Extended>::quiet_NaN());
    // An undefined increment multiplies into an undefined value: Max.
    EXPECT_EQ(Step(real, "+"), 100);
}

TEST(ValueEdits, SpinButtonPlacement) {
    TIntegerEdit field;
    field.SetSpinIncrement(1);
    TSpinButton& spin = *field.SpinButton();
    field.SetBounds(0, 0, 100, 21);
    // The upper half is rounded up, the halves overlap by one pixel.
    EXPECT_EQ(Box(spin.UpButton()), (Bounds{0, 0, 15, 9}));
    EXPECT_EQ(Box(spin.DownButton()), (Bounds{0, 8, 15, 9}));
    field.SetCtl3D(false);
    field.SetBounds(0, 0, 100, 21);
    EXPECT_EQ(Box(spin), (Bounds{100 - 1 - 15, 1, 15, 18}));
    field.SetEnabled(false);
    EXPECT_FALSE(spin.Enabled());
}

TEST(ValueEdits, DisabledGlyphIsEmbossed) {
    using toolkit::RGBColor;
    const toolkit::TColor k = RGBColor(0, 0, 0), w = RGBColor(255, 255, 255),
                          f = RGBColor(192, 192, 192), g = RGBColor(128, 128, 128);
    toolkit::TBitmap arrow;
    arrow.SetPixelFormat(toolkit::pf24bit);
    arrow.SetSize(4, 3);
    const toolkit::TColor rows[3][4] = {{w, w, w, w}, {k, k, w, k}, {w, k, f, f}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            arrow.Canvas().SetPixel(x, y, rows[y][x]);

    auto pair = MakeGlyphPair(arrow);
    ASSERT_EQ(pair->Width(), 8);
    ASSERT_EQ(pair->Height(), 2);
    const toolkit::TColor expected[2][8] = {{k, k, w, k, g, g, w, k}, {w, k, f, f, w, g, w, f}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(pair->Canvas().Pixel(x, y), expected[y][x]) << x << "," << y;
}

TEST(ValueEdits, AutoRepeatRunsOnTheClock) {
    toolkit::TForm form("Form");
    auto& field = form.Add<TIntegerEdit>("Field");
    field.SetMax(100);
    field.SetSpinIncrement(1);
    ChangeLog log(field);
    auto& up = field.SpinButton()->UpButton();
    int64_t pressedAt = 0;
    RunShown(form, [&] {
        pressedAt = toolkit::DefaultClock().Now();
        EXPECT_EQ(toolkit::user::Press(up), toolkit::TActionResult::Ok);
        EXPECT_TRUE(field.Focused());
        toolkit::DefaultClock().Advance(1000);
        EXPECT_EQ(toolkit::user::Release(up), toolkit::TActionResult::Ok);
        toolkit::DefaultClock().Advance(1000); // released: nothing more
        toolkit::user::Press(up);
        field.SetEnabled(false); // disabled while held: the repeat stops
        toolkit::DefaultClock().Advance(1000);
    });
    for (int64_t& time : log.times)
        time -= pressedAt;
    EXPECT_EQ(log.times, (std::vector<int64_t>{400, 500, 600, 700, 800, 900, 1000, 1000}))
        << "repeats while held, then the release click";
    EXPECT_EQ(field.Value(), 8);
    EXPECT_FALSE(up.Repeating());
}

TEST(ValueEdits, FailingRepeatStopsTheTimer) {
    toolkit::TForm form("Form");
    auto& field = form.Add<TIntegerEdit>("Field");
    field.SetSpinIncrement(1);
    int clicks = 0;
    field.OnChangeValue = [&](TControl&) {
        if (++clicks == 2)
            throw Exception("stop");
    };
    int errors = 0;
    auto previous = toolkit::Application().OnException;
    toolkit::Application().OnException = [&](std::exception_ptr) { ++errors; };
    auto& up = field.SpinButton()->UpButton();
    RunShown(form, [&] {
        toolkit::user::Press(up);
        toolkit::DefaultClock().Advance(2000);
        EXPECT_FALSE(up.Repeating());
        toolkit::user::Release(up);
    });
    toolkit::Application().OnException = previous;
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(clicks, 3); // two repeats, the failing one last, then the release
}

TEST(ValueEdits, KeysStepTheValue) {
    toolkit::TForm form("Form");
    auto& real = form.Add<TFloatEdit>("Real");
    auto& plain = form.Add<TIntegerEdit>("Plain");
    real.SetSpinIncrement(1);
    real.SetValue(22);
    plain.SetValue(5);
    auto& spin = *real.SpinButton();
    RunShown(form, [&] {
        using namespace toolkit;
        user::PressKey(real, vkUp, ssShift);
        EXPECT_EQ(real.Text(), "22.1");
        user::PressKey(real, vkDown, 0);
        EXPECT_EQ(real.Value(), 22 + 1.0L / 10 - 1);
        user::PressKey(plain, vkUp, 0); // no spin button: no step
        EXPECT_EQ(plain.Value(), 5);

        real.SetValue(10);
        user::PressKey(spin, vkSpace, 0); // the upper arrow is focused at first
        EXPECT_EQ(real.Value(), 11);
        user::PressKey(spin, vkDown, 0);
        EXPECT_EQ(real.Value(), 10);
        EXPECT_EQ(&spin.FocusedButton(), &spin.DownButton());
    });
}

// The wheel goes to the focused field; the form-wide handler moves it to the field under the
// pointer first.
TEST(ValueEdits, WheelRoutingBetweenFields) {
    toolkit::TForm form("Form");
    auto& a = form.Add<TIntegerEdit>("A");
    auto& b = form.Add<TIntegerEdit>("B");
    auto& c = form.Add<TIntegerEdit>("C");
    for (TIntegerEdit* field : {&a, &b}) {
        field->SetSpinIncrement(1);
        field->SetValue(50);
    }
    c.SetValue(50);
    RunShown(form, [&] {
        using namespace toolkit;
        a.SetFocus();
        bool handled = false;
        user::TurnWheel(b, TK_WHEEL_NOTCH, 0, &handled);
        EXPECT_TRUE(handled);
        EXPECT_TRUE(b.Focused());
        EXPECT_EQ(b.Value(), 51);
        user::TurnWheel(b, -TK_WHEEL_NOTCH, 0); // focused now: it spins itself
        EXPECT_EQ(b.Value(), 50);
        user::TurnWheel(c, TK_WHEEL_NOTCH, 0); // no spin button under the pointer
        EXPECT_TRUE(b.Focused());
        EXPECT_EQ(b.Value(), 51);
        EXPECT_EQ(c.Value(), 50);
        user::TurnWheel(*a.SpinButton(), TK_WHEEL_NOTCH, 0); // over a field's spin button
        EXPECT_TRUE(a.Focused());
        EXPECT_EQ(a.Value(), 51);
    });
}

TEST(ValueEdits, AlignmentFollowsTextLength) {
    TIntegerEdit field;
    field.SetSpinIncrement(1);
    field.SetBounds(0, 0, 60, 21);
    field.SetAlignment(toolkit::TAlignment::RightJustify);
    field.SetText("12345678901234567890");
    EXPECT_EQ(field.Alignment(), toolkit::TAlignment::LeftJustify);
    field.SetText("12");
    EXPECT_EQ(field.Alignment(), toolkit::TAlignment::RightJustify);

    field.SetText("12345678901234567890");
    field.SetAlignment(toolkit::TAlignment::LeftJustify); // forgets the remembered length
    field.SetText("12");
    EXPECT_EQ(field.Alignment(), toolkit::TAlignment::LeftJustify);
}

TEST(ValueEdits, AutomationReadsTheValue) {
    toolkit::TForm form("Form");
    form.Add<TIntegerEdit>("Count").SetValue(16);
    form.Add<TFloatEdit>("Size").SetText("22.1");
    std::string read;
    tk_set_form_agent(
        [](tk_form* shown, void* user) {
            char count[64], size[64];
            tk_get_string(shown, "Count", TK_PROP_VALUE, count, sizeof count);
            tk_get_string(shown, "Size", TK_PROP_VALUE, size, sizeof size);
            *static_cast<std::string*>(user) = std::string(count) + " " + size;
        },
        &read);
    form.ShowModal();
    tk_set_form_agent(nullptr, nullptr);
    EXPECT_EQ(read, "16 22.1");
}

} // namespace
} // namespace stipplor
