// The modal loop and the user's actions on a shown form.
#include "core/Exception.h"
#include "toolkit/Agents.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace toolkit;

namespace {

// A small dialog: an OK button (default, no modal result of its own), a Cancel button, a
// group with a check box and an edit, a radio group.
struct Dialog {
    TForm form{"Dialog"};
    TButton& ok = form.Add<TButton>("OK");
    TButton& cancel = form.Add<TButton>("Cancel");
    TGroupBox& group = form.Add<TGroupBox>("Group");
    TCheckBox& box = group.Add<TCheckBox>("Box");
    TEdit& edit = group.Add<TEdit>("Edit");
    TRadioGroup& mode = form.Add<TRadioGroup>("Mode");
    std::vector<std::string> log;

    Dialog() {
        form.SetClientSize(468, 423);
        ok.SetDefault(true);
        ok.OnClick = [this](TControl&) { log.push_back("ok"); };
        cancel.SetCancel(true);
        cancel.SetModalResult(mrCancel);
        box.OnClick = [this](TControl&) { log.push_back("box"); };
        edit.OnChange = [this](TControl&) { log.push_back("edit " + edit.Text()); };
        mode.SetItems({"Grayscale", "CMYK", "RGB"});
        mode.OnClick = [this](TControl&) { log.push_back("mode"); };
    }
};

TEST(FormsTest, ModalLoopWithoutAgentClosesWithCancel) {
    Dialog d;
    bool shown = false;
    d.form.OnShow = [&](TControl& form) { shown = static_cast<TForm&>(form).Modal(); };
    EXPECT_EQ(d.form.ShowModal(), mrCancel);
    EXPECT_TRUE(shown);
    EXPECT_FALSE(d.form.Visible());
    EXPECT_EQ(d.form.ActiveControl(), &d.ok) << "the first tab stop got the focus";
    EXPECT_EQ(d.form.ShowModal(), mrCancel) << "a closed form can be shown again";
}

TEST(FormsTest, AgentActsAsTheUserAndClosesTheForm) {
    Dialog d;
    d.ok.OnClick = [&](TControl&) { d.form.SetModalResult(mrYes); };
    TActionResult afterClose = TActionResult::Ok;
    TScopedAgents agents([&](TCustomForm& form) {
        EXPECT_EQ(&form, &d.form);
        EXPECT_EQ(user::TypeText(d.edit, "2*8"), TActionResult::Ok);
        EXPECT_EQ(user::Click(d.box), TActionResult::Ok);
        EXPECT_EQ(user::ChooseItem(d.mode, 2), TActionResult::Ok);
        EXPECT_EQ(user::ChooseItem(d.mode, 3), TActionResult::BadArgument);
        EXPECT_EQ(user::TypeText(d.box, "x"), TActionResult::Unsupported);
        EXPECT_EQ(user::Click(d.ok), TActionResult::Ok);
        afterClose = user::Click(d.box);
    });
    EXPECT_EQ(d.form.ShowModal(), mrYes);
    EXPECT_EQ(d.log, (std::vector<std::string>{"edit 2*8", "box", "mode"}));
    EXPECT_EQ(afterClose, TActionResult::NoForm) << "a closed form takes no input";
    EXPECT_TRUE(d.edit.Modified());
}

TEST(FormsTest, DisabledAndHiddenControlsIgnoreTheUser) {
    Dialog d;
    TScopedAgents agents([&](TCustomForm&) {
        d.ok.SetEnabled(false);
        EXPECT_EQ(user::PressKey(d.ok, vkSpace, 0), TActionResult::Disabled);
        d.group.SetEnabled(false); // the children keep their own flags but take no input
        EXPECT_TRUE(d.box.Enabled());
        EXPECT_EQ(user::Click(d.box), TActionResult::Disabled);
        EXPECT_EQ(user::TypeText(d.edit, "1"), TActionResult::Disabled);
        d.group.SetEnabled(true);
        d.mode.SetVisible(false);
        EXPECT_EQ(user::ChooseItem(d.mode, 1), TActionResult::Hidden);
        d.group.SetVisible(false);
        EXPECT_EQ(user::Click(d.box), TActionResult::Hidden);
        d.edit.SetReadOnly(true);
        d.group.SetVisible(true);
        EXPECT_EQ(user::TypeText(d.edit, "1"), TActionResult::Unsupported);
    });
    EXPECT_EQ(d.form.ShowModal(), mrCancel);
    EXPECT_TRUE(d.log.empty());
    TForm notShown;
    auto& button = notShown.Add<TButton>("B");
    EXPECT_EQ(user::Click(button), TActionResult::NoForm);
}

TEST(FormsTest, HandlerErrorsAreShownAndTheFormStaysOpen) {
    Dialog d;
    std::vector<TMessageBoxParams> boxes;
    int aborts = 0;
    d.ok.OnClick = [&](TControl&) { throw stipplor::Exception("Invalid value for field"); };
    d.box.OnClick = [&](TControl&) {
        ++aborts;
        throw stipplor::EAbort();
    };
    d.edit.OnChange = [&](TControl&) { throw std::runtime_error("Out of memory."); };
    TScopedAgents agents(
        [&](TCustomForm& form) {
            EXPECT_EQ(user::Click(d.ok), TActionResult::ErrorShown);
            EXPECT_EQ(user::Click(d.box), TActionResult::ErrorShown);
            EXPECT_EQ(user::TypeText(d.edit, "x"), TActionResult::ErrorShown);
            EXPECT_TRUE(form.AcceptsInput());
            EXPECT_EQ(user::Click(d.cancel), TActionResult::Ok);
        },
        [&](const TMessageBoxParams& box) {
            boxes.push_back(box);
            return mrNone;
        });
    EXPECT_EQ(d.form.ShowModal(), mrCancel);
    EXPECT_EQ(aborts, 1);
    ASSERT_EQ(boxes.size(), 2u) << "the silent abort shows nothing";
    EXPECT_EQ(boxes[0].Caption + ": " + boxes[0].Text, "Error: Invalid value for field.");
    EXPECT_EQ(boxes[1].Text, "Out of memory.");
}

TEST(FormsTest, CloseQueryCanRefuse) {
    Dialog d;
    bool allow = false;
    d.form.OnCloseQuery = [&](TCustomForm&, bool& canClose) { canClose = allow; };
    TScopedAgents agents([&](TCustomForm& form) {
        EXPECT_EQ(user::CloseForm(form, mrOk), TActionResult::Refused);
        EXPECT_EQ(form.ModalResult(), mrNone);
        EXPECT_EQ(user::CloseForm(form, mrNone), TActionResult::BadArgument);
        allow = true;
        EXPECT_EQ(user::CloseForm(form, mrOk), TActionResult::Ok);
    });
    EXPECT_EQ(d.form.ShowModal(), mrOk);
    {
        // A modal result set by the agent's own code closes the form when the agent returns.
        TScopedAgents direct([&](TCustomForm& form) { form.SetModalResult(mrRetry); });
        EXPECT_EQ(d.form.ShowModal(), mrRetry);
        allow = false;
        EXPECT_EQ(d.form.ShowModal(), mrCancel) << "refused, but the window still goes";
    }
    EXPECT_THROW(
        {
            TScopedAgents nested([&](TCustomForm& form) { form.ShowModal(); });
            d.form.ShowModal();
        },
        EInvalidOperation);
}

TEST(FormsTest, DialogKeysAndFocus) {
    Dialog d;
    TScopedAgents agents([&](TCustomForm& form) {
        EXPECT_EQ(user::PressKey(d.edit, vkReturn, 0), TActionResult::Ok);
        EXPECT_EQ(d.log.back(), "ok") << "Enter in an edit presses the default button";
        EXPECT_EQ(form.ActiveControl(), &d.edit);
        EXPECT_EQ(user::PressKey(d.edit, vkTab, ssShift), TActionResult::Ok);
        EXPECT_EQ(form.ActiveControl(), &d.box);
        EXPECT_EQ(user::PressKey(d.box, vkSpace, 0), TActionResult::Ok);
        EXPECT_TRUE(d.box.Checked());
        EXPECT_EQ(user::PressKey(d.mode, vkDown, 0), TActionResult::Ok);
        EXPECT_EQ(d.mode.ItemIndex(), 0);
        EXPECT_EQ(user::PressKey(d.group, vkTab, 0), TActionResult::Unsupported);
        d.cancel.SetEnabled(false);
        EXPECT_EQ(user::PressKey(d.edit, vkEscape, 0), TActionResult::Ok);
        EXPECT_TRUE(form.AcceptsInput()) << "a disabled cancel button does not close";
        d.cancel.SetEnabled(true);
        EXPECT_EQ(user::PressKey(d.edit, vkEscape, 0), TActionResult::Ok);
    });
    EXPECT_EQ(d.form.ShowModal(), mrCancel);
    EXPECT_EQ(d.log, (std::vector<std::string>{"ok", "box", "mode"}));
}

TEST(FormsTest, WheelGoesToTheFocusedControlThenUpToTheForm) {
    Dialog d;
    std::vector<std::string> route;
    d.edit.OnMouseWheel = [&](TControl&, TShiftState, int delta, TPoint, bool& handled) {
        route.push_back("edit " + std::to_string(delta));
        handled = delta < 0;
    };
    d.form.OnMouseWheel = [&](TControl&, TShiftState shift, int, TPoint pos, bool& handled) {
        TWinControl* under = Mouse().WinControlUnderPointer();
        route.push_back(std::string("form under ") + (under ? under->Name() : "none") +
                        (shift & ssShift ? " shift" : ""));
        EXPECT_EQ(pos, d.box.ClientToForm({d.box.Width() / 2, d.box.Height() / 2}));
        handled = true;
    };
    d.group.SetBounds(10, 20, 200, 100);
    d.box.SetBounds(8, 16, 100, 17);
    bool handled = false;
    TScopedAgents agents([&](TCustomForm&) {
        d.edit.SetFocus();
        EXPECT_EQ(user::TurnWheel(d.box, 120, ssShift, &handled), TActionResult::Ok);
        EXPECT_TRUE(handled);
        EXPECT_EQ(user::TurnWheel(d.box, -120, 0, &handled), TActionResult::Ok);
    });
    d.form.ShowModal();
    EXPECT_EQ(route, (std::vector<std::string>{"edit 120", "form under Box shift", "edit -120"}));
}

TEST(FormsTest, MessageBoxBlocksTheFormBelow) {
    Dialog d;
    TActionResult fromBox = TActionResult::Ok;
    d.ok.OnClick = [&](TControl&) {
        if (MessageDlg("Overwrite?", TMsgDlgType::Confirmation,
                       {TMsgDlgBtn::Yes, TMsgDlgBtn::No}) == mrYes)
            d.form.SetModalResult(mrOk);
    };
    TScopedAgents agents([&](TCustomForm&) { user::Click(d.ok); },
                         [&](const TMessageBoxParams& box) {
                             EXPECT_EQ(box.Caption, "Confirm");
                             fromBox = user::Click(d.box);
                             return mrYes;
                         });
    EXPECT_EQ(d.form.ShowModal(), mrOk);
    EXPECT_EQ(fromBox, TActionResult::NoForm);
    EXPECT_FALSE(d.box.Checked());
}

} // namespace
