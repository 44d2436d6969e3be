#include "toolkit/Controls.h"
#include "toolkit/Graphics.h" // both headers name TColor; they must agree

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using namespace toolkit;

namespace {

// Counts the events a control raises.
struct EventLog {
    std::vector<std::string> entries;
    TNotifyEvent Record(std::string what) {
        return [this, what](TControl&) { entries.push_back(what); };
    }
};

TEST(ControlsTest, ValuesSetFromCodeRaiseEventsOnlyWhenTheyChange) {
    TForm form;
    EventLog log;
    auto& box = form.Add<TCheckBox>("Box");
    box.OnClick = log.Record("box");
    for (bool checked : {false, true, true, false})
        box.SetChecked(checked);
    EXPECT_EQ(log.entries, (std::vector<std::string>{"box", "box"}));

    log.entries.clear();
    auto& edit = form.Add<TEdit>("Edit");
    edit.OnChange = log.Record("edit");
    for (const char* text : {"", "16", "16"})
        edit.SetText(text);
    EXPECT_EQ(log.entries.size(), 1u);

    log.entries.clear();
    auto& group = form.Add<TGroupBox>("Group");
    auto& a = group.Add<TRadioButton>("A");
    auto& b = group.Add<TRadioButton>("B");
    auto& outside = form.Add<TRadioButton>("Outside");
    a.OnClick = log.Record("a");
    b.OnClick = log.Record("b");
    outside.SetChecked(true);
    a.SetChecked(true);
    b.SetChecked(true); // turns its sibling off silently
    EXPECT_FALSE(a.Checked());
    EXPECT_TRUE(outside.Checked()) << "other parents keep their choice";
    b.SetChecked(false); // no user's click unchecks a radio button: no event
    EXPECT_EQ(log.entries, (std::vector<std::string>{"a", "b"}));
}

TEST(ControlsTest, PressAndReleaseMakeOneClickOfTheControlsKind) {
    TForm form;
    EventLog log;
    auto& box = form.Add<TCheckBox>("Box");
    auto& radio = form.Add<TRadioButton>("Radio");
    auto& button = form.Add<TButton>("Button");
    auto& label = form.Add<TLabel>("Label");
    auto& speed = form.Add<TSpeedButton>("Speed");
    button.SetModalResult(mrRetry);
    for (TControl* c : std::vector<TControl*>{&box, &radio, &button, &label, &speed}) {
        c->OnClick = log.Record(c->Name());
        c->MouseUp(TMouseButton::Left, 0, 0, 0); // a release alone is no click
        c->MouseDown(TMouseButton::Right, 0, 0, 0);
        c->MouseUp(TMouseButton::Right, 0, 0, 0);
        c->MouseDown(TMouseButton::Left, 0, 0, 0);
        c->MouseUp(TMouseButton::Left, 0, 0, 0);
    }
    EXPECT_EQ(log.entries, (std::vector<std::string>{"Box", "Radio", "Button", "Label", "Speed"}));
    EXPECT_TRUE(box.Checked());
    EXPECT_TRUE(radio.Checked());
    EXPECT_EQ(form.ModalResult(), mrRetry);

    speed.MouseDown(TMouseButton::Left, 0, 0, 0);
    EXPECT_TRUE(speed.Pressed());
    speed.SetVisible(false); // losing the pointer cancels the press
    EXPECT_FALSE(speed.Pressed());
    speed.MouseUp(TMouseButton::Left, 0, 0, 0);
    box.SetEnabled(false);
    box.MouseDown(TMouseButton::Left, 0, 0, 0);
    box.MouseUp(TMouseButton::Left, 0, 0, 0);
    EXPECT_EQ(log.entries.size(), 5u);
}

TEST(ControlsTest, RadioGroupItemIndexClampsAndClicksOnChange) {
    TForm form;
    auto& group = form.Add<TRadioGroup>("Mode");
    int clicks = 0;
    group.OnClick = [&](TControl&) { ++clicks; };
    group.SetItemIndex(0);
    EXPECT_EQ(group.ItemIndex(), -1) << "no items: nothing to choose";
    EXPECT_EQ(clicks, 0);

    group.SetItems({"Grayscale", "CMYK", "RGB"});
    struct Case {
        int set, expected, clicks;
    };
    for (Case c : {Case{1, 1, 1}, Case{1, 1, 1}, Case{7, 2, 2}, Case{-5, -1, 3}, Case{-1, -1, 3},
                   Case{0, 0, 4}}) {
        group.SetItemIndex(c.set);
        EXPECT_EQ(group.ItemIndex(), c.expected) << "set " << c.set;
        EXPECT_EQ(clicks, c.clicks) << "set " << c.set;
    }
    group.SetItemIndex(2);
    group.SetItems({"Circle", "Diamond"});
    EXPECT_EQ(group.ItemIndex(), 1);
    EXPECT_EQ(clicks, 5) << "shrinking the items clamps silently";
}

TEST(ControlsTest, EditSelectionTypingAndKeys) {
    TForm form;
    auto& edit = form.Add<TEdit>("Edit");
    int changes = 0;
    edit.OnChange = [&](TControl&) { ++changes; };
    edit.SetText("22.5");
    edit.SetSelStart(2);
    edit.SetSelLength(10);
    EXPECT_EQ(edit.SelLength(), 2) << "selection clamped to the text";
    EXPECT_EQ(edit.SelText(), ".5");
    edit.SetSelText("0\nignored");
    EXPECT_EQ(edit.Text(), "220");

    const auto press = [&](TKey key) {
        edit.KeyDown(key, 0);
        return key; // 0 when the edit took the key
    };
    edit.SetText("a\xC3\xA9"); // "aé": Backspace removes the whole character
    edit.SetCaretPos(3);
    EXPECT_EQ(press(vkBack), 0);
    EXPECT_EQ(edit.Text(), "a");
    const int before = changes;
    edit.SetCaretPos(0);
    press(vkBack); // nothing to delete
    EXPECT_EQ(changes, before);

    edit.SetText("fixed");
    edit.SetReadOnly(true);
    edit.SelectAll();
    press(vkDelete);
    EXPECT_EQ(edit.Text(), "fixed");
}

TEST(ControlsTest, OwnershipAndLookup) {
    auto form = std::make_unique<TForm>("Dialog");
    auto& group = form->Add<TGroupBox>("Group");
    auto& inner = group.Add<TEdit>("Inner");
    form->Add<TButton>("OK");
    EXPECT_EQ(form->FindControl("Inner"), &inner);
    EXPECT_EQ(form->FindControl("Group.Inner"), &inner);
    EXPECT_EQ(form->FindControl("OK.Inner"), nullptr);
    EXPECT_THROW(group.InsertControl(std::make_unique<TForm>()), EInvalidOperation);

    inner.SetFocus();
    EXPECT_EQ(form->ActiveControl(), &inner);
    std::unique_ptr<TControl> removed = group.RemoveControl(inner);
    ASSERT_EQ(removed.get(), &inner);
    EXPECT_EQ(form->ActiveControl(), nullptr) << "a removed control cannot keep the focus";
    EXPECT_EQ(group.RemoveControl(inner), nullptr);

    auto& other = group.Add<TEdit>("Other");
    other.SetFocus();
    form->RemoveControl(group).reset(); // destroying the parent of the focused control
    EXPECT_EQ(form->ActiveControl(), nullptr);
    form.reset(); // the removed control outlives its old form
    EXPECT_EQ(removed->Form(), nullptr);
}

TEST(ControlsTest, FocusFollowsVisibilityAndEnabling) {
    TForm form;
    auto& group = form.Add<TGroupBox>("Group");
    auto& first = group.Add<TEdit>("First");
    auto& second = form.Add<TCheckBox>("Second");
    std::vector<std::string> log;
    first.OnEnter = [&](TControl&) { log.push_back("enter first"); };
    first.OnExit = [&](TControl&) { log.push_back("exit first"); };
    second.OnEnter = [&](TControl&) { log.push_back("enter second"); };

    first.SetFocus();
    second.SetFocus();
    EXPECT_EQ(log, (std::vector<std::string>{"enter first", "exit first", "enter second"}));
    EXPECT_TRUE(second.Focused());
    EXPECT_FALSE(group.CanFocus()) << "a group box is a frame, not a focus target";

    group.SetEnabled(false);
    EXPECT_FALSE(first.CanFocus());
    EXPECT_THROW(first.SetFocus(), EInvalidOperation);
    group.SetEnabled(true);
    first.SetFocus();
    group.SetVisible(false);
    EXPECT_EQ(form.ActiveControl(), nullptr) << "hiding takes the focus away";

    TEdit orphan("Orphan");
    EXPECT_THROW(orphan.SetFocus(), EInvalidOperation);

    // Tab order skips what cannot take the focus and wraps around.
    group.SetVisible(true);
    first.SetEnabled(false);
    auto& third = form.Add<TEdit>("Third");
    form.SelectNext(true);
    EXPECT_EQ(form.ActiveControl(), &second);
    form.SelectNext(true);
    EXPECT_EQ(form.ActiveControl(), &third);
    form.SelectNext(true);
    EXPECT_EQ(form.ActiveControl(), &second);
    form.SelectNext(false);
    EXPECT_EQ(form.ActiveControl(), &third);
}

TEST(ControlsTest, TextWidthMetric) {
    // {text, font height, width}: "Aa1 " is 13 + 10 + 11 + 7; "i" at 2 and 6 is 0.5 and 1.5
    // rounded to even; negative heights measure the same.
    const std::tuple<const char*, int, int> cases[] = {
        {"Aa1 ", 20, 41}, {"i", 2, 0}, {"i", 6, 2}, {"i", -6, 2}, {"\xC3\xA9", 20, 11}};
    for (const auto& [text, height, width] : cases)
        EXPECT_EQ(TextWidth(text, height), width) << text << " at " << height;

    EXPECT_EQ(StripAccelerator("Fish && &Chips"), "Fish & Chips");
    EXPECT_EQ(StripAccelerator("end&"), "end");
}

} // namespace
