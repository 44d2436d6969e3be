// The form the C automation test drives, built in C++ and handed over through C functions.
#include "core/Exception.h"
#include "toolkit/Agents.h"

#include <charconv>
#include <memory>
#include <string>

using namespace toolkit;

namespace {

constexpr int MinValue = 2, MaxValue = 256;

// A numeric field: text outside MinValue..MaxValue shows in maroon; its value is the clamped
// number.
class NumberField final : public TEdit {
public:
    using TEdit::TEdit;
    bool Valid() const {
        return Parse().has_value() && *Parse() >= MinValue && *Parse() <= MaxValue;
    }
    std::optional<std::string> AutomationValue() const override {
        auto n = Parse();
        if (!n)
            return std::nullopt;
        return std::to_string(*n < MinValue ? MinValue : (*n > MaxValue ? MaxValue : *n));
    }

protected:
    void Change() override {
        Font().Color = Valid() ? clWindowText : clMaroon;
        TEdit::Change();
    }

private:
    std::optional<int> Parse() const {
        int n = 0;
        auto [end, error] = std::from_chars(Text().data(), Text().data() + Text().size(), n);
        if (error != std::errc() || end != Text().data() + Text().size())
            return std::nullopt;
        return n;
    }
};

std::unique_ptr<TForm> BuildForm() {
    auto form = std::make_unique<TForm>("TestForm");
    form->SetCaption("Stipplor test");
    auto& mode = form->Add<TRadioGroup>("ColorMode");
    mode.SetItems({"Grayscale", "CMYK", "RGB"});
    auto& group = form->Add<TGroupBox>("TIFFOutput");
    auto& tiff = group.Add<TCheckBox>("TIFFOutputBox");
    auto& path = group.Add<TEdit>("OutputPathEdit");
    path.SetEnabled(false);
    tiff.OnClick = [&tiff, &path](TControl&) { path.SetEnabled(tiff.Checked()); };
    auto& cell = form->Add<NumberField>("CellSize");
    cell.SetText("16");
    auto& ok = form->Add<TButton>("OK");
    ok.SetCaption("OK");
    ok.SetDefault(true);
    ok.OnClick = [&cell, f = form.get()](TControl&) {
        if (!cell.Valid())
            throw stipplor::Exception("Invalid value for field");
        f->SetModalResult(mrYes);
    };
    auto& cancel = form->Add<TButton>("Cancel");
    cancel.SetCancel(true);
    cancel.SetModalResult(mrCancel);
    return form;
}

} // namespace

extern "C" {

void* ctest_form_create(void) {
    try {
        return BuildForm().release();
    } catch (...) {
        return nullptr;
    }
}

int ctest_form_show(void* form) {
    try {
        return static_cast<TForm*>(form)->ShowModal();
    } catch (...) {
        return -1;
    }
}

void ctest_form_destroy(void* form) {
    delete static_cast<TForm*>(form);
}

} // extern "C"
