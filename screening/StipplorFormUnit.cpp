#include "screening/StipplorFormUnit.h"

#include "platform/File.h"
#include "settings/Settings.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <optional>

namespace stipplor {

using toolkit::TControl;

namespace {

constexpr int kClientWidth = 468;
constexpr int kClientHeight = 423;
constexpr int kFontHeight = 11;
// A check box's caption starts this far right of its left edge, past the box itself.
constexpr int kCheckBoxCaptionOffset = 19;

// Design defaults, which are also the defaults of missing settings.
constexpr int kDefaultColorMode = ColorModeCMYK;
constexpr double kDefaultBlackInkUsage = 100;
constexpr std::array<double, 4> kDefaultAngles{22, 45, 67, 0};
constexpr int32_t kDefaultCellSize = 16;
constexpr int kDefaultDotShape = DotShapeDiamond;

constexpr const char* kConversionTableFilter = "TIFF images|*.tif;*.tiff";

struct TBounds {
    int Left, Top, Width, Height;
};

void Place(TControl& control, TBounds bounds) {
    control.SetBounds(bounds.Left, bounds.Top, bounds.Width, bounds.Height);
}

void Place(TControl& control, std::string caption, TBounds bounds) {
    control.SetCaption(std::move(caption));
    Place(control, bounds);
}

// The control and everything inside it, at any depth.
void EnableWithContents(toolkit::TWinControl& control, bool enabled) {
    control.SetEnabled(enabled);
    for (TControl* inner : control.AllControls())
        inner->SetEnabled(enabled);
}

// A small closed folder, the picture of the table's browse button.
std::shared_ptr<toolkit::TBitmap> FolderGlyph() {
    constexpr toolkit::TColor kFace = toolkit::RGBColor(240, 240, 240);
    constexpr toolkit::TColor kOutline = toolkit::RGBColor(128, 96, 0);
    constexpr toolkit::TColor kFolder = toolkit::RGBColor(255, 208, 64);
    auto glyph = std::make_shared<toolkit::TBitmap>();
    glyph->SetPixelFormat(toolkit::pf24bit);
    glyph->SetSize(16, 14);
    toolkit::TCanvas& canvas = glyph->Canvas();
    canvas.FillRect(0, 0, 16, 14, kFace);
    canvas.FillRect(1, 1, 7, 4, kOutline); // the tab
    canvas.FillRect(1, 3, 15, 13, kOutline);
    canvas.FillRect(2, 2, 6, 4, kFolder);
    canvas.FillRect(2, 4, 14, 12, kFolder);
    return glyph;
}

// Folder separators: the system's and, so that names typed on other systems still split
// into folder and file, the backslash too.
bool IsFolderSeparator(char c) noexcept {
    return c == '/' || c == '\\';
}

// The folder part of a file name, with its final separator; empty when there is none.
std::string FolderPart(const std::string& name) {
    for (size_t i = name.size(); i > 0; --i)
        if (IsFolderSeparator(name[i - 1]))
            return name.substr(0, i);
    return {};
}

// The image gamma as the host reports it; nothing when the host offers none, or reports a
// value that no tone table could be made from.
std::optional<float> HostImageGamma(const THostLink& host) {
    float gamma = 1.0f;
    if (!host.QueryImageGamma || !host.QueryImageGamma(gamma))
        return std::nullopt;
    if (!std::isfinite(gamma) || gamma <= 0)
        return std::nullopt;
    return gamma;
}

std::string GammaCaption(float gamma) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "Image gamma: %0.2f", static_cast<double>(gamma));
    return text.data();
}

} // namespace

TStipplorForm::TStipplorForm(THostLink Host) : TForm("StipplorForm"), host_(std::move(Host)) {
    SetDesignDefaults();
    // The design state already follows the rules, whatever FormCreate goes on to change.
    SetControlStates();
    ConnectHandlers();
    FormCreate();
}

TStipplorForm::~TStipplorForm() = default;

std::array<toolkit::TLabel*, 4> TStipplorForm::AngleLabels() const noexcept {
    return {&Angle1Label, &Angle2Label, &Angle3Label, &Angle4Label};
}

std::array<TFloatEdit*, 4> TStipplorForm::AngleEdits() const noexcept {
    return {&AngleEdit1, &AngleEdit2, &AngleEdit3, &AngleEdit4};
}

void TStipplorForm::SetDesignDefaults() {
    SetCaption("Stipplor");
    Font().Height = kFontHeight;
    SetClientSize(kClientWidth, kClientHeight);
    SetPosition(toolkit::TPosition::ScreenCenter);

    Place(ColorModeRadioGroup, "Color mode", {8, 4, 145, 104});
    ColorModeRadioGroup.SetItems({"Grayscale", "CMYK", "RGB"});

    Place(CMYKOptionsGroup, "CMYK options", {160, 4, 300, 104});
    Place(DirectConversionButton, "Direct conversion", {10, 18, 150, 17});
    DirectConversionButton.SetChecked(true);
    Place(BlackInkUsageLabel, "Black ink usage:", {26, 42, 90, 13});
    Place(BlackPlaneGamma, {118, 38, 50, 21});
    BlackPlaneGamma.SetMin(0);
    BlackPlaneGamma.SetMax(100);
    BlackPlaneGamma.SetValue(kDefaultBlackInkUsage);
    Place(PercentLabel, "%", {172, 42, 12, 13});
    Place(CMYKConversionTableButton, "Use conversion table", {10, 62, 150, 17});
    Place(CMYKConversionTableEdit, {26, 78, 236, 21});
    Place(SelectConversionTableButton, {266, 78, 23, 21});
    SelectConversionTableButton.SetGlyph(FolderGlyph());

    // Its width follows its caption once the dialog is created (FormCreate).
    Place(GenerateRasterBox, "Generate raster pattern", {16, 112, 150, 17});
    GenerateRasterBox.SetChecked(true);
    Place(RasterOptionsGroup, " ", {8, 113, 452, 248});
    Place(CellSizeLabel, "Pattern cell size:", {12, 24, 90, 13});
    Place(CellSizeEdit, {110, 20, 60, 21});
    CellSizeEdit.SetMax(256);
    CellSizeEdit.SetMin(2);
    CellSizeEdit.SetSpinIncrement(1);
    CellSizeEdit.SetValue(kDefaultCellSize);
    Place(ResultSizeLabel, {180, 24, 200, 13});
    Place(PatternAnglesLabel, "Pattern angles (\xC2\xB0):", {12, 52, 100, 13});
    const std::array<const char*, 4> inks{"C:", "M:", "Y:", "K:"};
    for (size_t i = 0; i < inks.size(); ++i) {
        const int left = 116 + 74 * static_cast<int>(i);
        Place(*AngleLabels()[i], inks[i], {left, 52, 14, 13});
        TFloatEdit& angle = *AngleEdits()[i];
        Place(angle, {left + 16, 48, 50, 21});
        angle.SetMin(-360);
        angle.SetMax(360);
        angle.SetValue(kDefaultAngles[i]);
    }
    Place(DotShapeGroup, "Dot shape", {12, 78, 200, 40});
    DotShapeGroup.SetItems({"Circle", "Diamond"});
    DotShapeGroup.SetColumns(2);
    DotShapeGroup.SetItemIndex(kDefaultDotShape);
    Place(CombineResultsBox, "Combine results in one", {12, 126, 200, 17});
    Place(ShowInColorBox, "Show planes in color", {12, 146, 200, 17});
    ShowInColorBox.SetChecked(true);
    Place(TIFFOutputGroup, "TIFF output", {12, 168, 428, 70});
    Place(TIFFOutputBox, "Write result to 1-bit TIFF file(s):", {10, 16, 250, 17});
    Place(OutputPathEdit, {10, 38, 330, 21});
    Place(InvertCheckBox, "Invert", {350, 40, 70, 17});

    Place(GammaLabel, {8, 398, 200, 13});
    Place(OKButton, "OK", {298, 390, 75, 25});
    OKButton.SetDefault(true);
    Place(CancelDialogButton, "Cancel", {379, 390, 75, 25});
    CancelDialogButton.SetCancel(true);
    CancelDialogButton.SetModalResult(toolkit::mrCancel);
}

void TStipplorForm::ConnectHandlers() {
    const auto handler = [this](void (TStipplorForm::*method)()) {
        return [this, method](TControl&) { (this->*method)(); };
    };
    OnShow = handler(&TStipplorForm::FormShow);
    ColorModeRadioGroup.OnClick = handler(&TStipplorForm::ColorModeRadioGroupClick);
    for (TControl* control :
         std::initializer_list<TControl*>{&GenerateRasterBox, &CombineResultsBox, &TIFFOutputBox,
                                          &DirectConversionButton, &CMYKConversionTableButton})
        control->OnClick = handler(&TStipplorForm::SetControlStates);
    CellSizeEdit.OnChangeValue = handler(&TStipplorForm::CellSizeEditChangeValue);
    BlackPlaneGamma.OnChangeValue = handler(&TStipplorForm::BlackPlaneGammaChangeValue);
    CMYKConversionTableEdit.OnChange = handler(&TStipplorForm::CMYKConversionTableEditChange);
    SelectConversionTableButton.OnClick = handler(&TStipplorForm::SelectConversionTableButtonClick);
    OKButton.OnClick = handler(&TStipplorForm::OKButtonClick);
}

void TStipplorForm::FormCreate() {
    GenerateRasterBox.SetWidth(
        toolkit::TextWidth(toolkit::StripAccelerator(GenerateRasterBox.Caption()), Font().Height) +
        kCheckBoxCaptionOffset);

    if (!ProgramSetup)
        OpenProgramSetup(StipplorSettingsKey);
    const TProgramSetup& setup = *ProgramSetup;
    // Each control raises its own events as it is set, so the rules follow every value; the
    // controls clamp what lies outside their items or range.
    ColorModeRadioGroup.SetItemIndex(setup.ReadIntegerDef("ColorMode", kDefaultColorMode));
    GenerateRasterBox.SetChecked(setup.ReadBoolDef("GenerateRaster", true));
    ShowInColorBox.SetChecked(setup.ReadBoolDef("ShowInColorBox", true));
    BlackPlaneGamma.SetValue(setup.ReadFloatDef("BlackPlaneGamma", kDefaultBlackInkUsage));
    CMYKConversionTableEdit.SetText(setup.ReadStringDef("ConversionTable", ""));
    for (size_t i = 0; i < kDefaultAngles.size(); ++i)
        AngleEdits()[i]->SetValue(
            setup.ReadFloatDef("Angle" + std::to_string(i + 1), kDefaultAngles[i]));
    CellSizeEdit.SetValue(setup.ReadIntegerDef("CellSize", kDefaultCellSize));
    CombineResultsBox.SetChecked(setup.ReadBoolDef("CombineResults", false));

    // Decides the conversion whatever the table name's change event selected above.
    const bool useTable =
        setup.ReadBoolDef("UseTable", false) && !CMYKConversionTableEdit.Text().empty();
    (useTable ? CMYKConversionTableButton : DirectConversionButton).SetChecked(true);

    DotShapeGroup.SetItemIndex(setup.ReadIntegerDef("DotShape", kDefaultDotShape));
    TIFFOutputBox.SetChecked(setup.ReadBoolDef("TIFFOutputBox", false));
    OutputPathEdit.SetText(setup.ReadStringDef("OutputPath", ""));

    const std::optional<float> gamma = HostImageGamma(host_);
    ImageGamma = gamma.value_or(1.0f);
    GammaLabel.SetCaption(gamma ? GammaCaption(*gamma) : std::string());
}

void TStipplorForm::FormShow() {
    if (SourceBitmap != nullptr && SourceBitmap->PixelFormat() == PixelFormat8 &&
        SourceBitmap->IsGray())
        ColorModeRadioGroup.SetItemIndex(ColorModeGrayscale);
    CellSizeEditChangeValue();
}

void TStipplorForm::ColorModeRadioGroupClick() {
    const std::array<toolkit::TLabel*, 4> labels = AngleLabels();
    const auto showLabels = [&labels](std::initializer_list<const char*> captions) {
        size_t i = 0;
        for (const char* caption : captions) {
            labels[i]->SetCaption(caption);
            labels[i++]->SetVisible(true);
        }
        for (; i < labels.size(); ++i)
            labels[i]->SetVisible(false);
    };
    switch (ColorModeRadioGroup.ItemIndex()) {
    case ColorModeGrayscale:
        showLabels({"K:"});
        break;
    case ColorModeCMYK:
        showLabels({"C:", "M:", "Y:", "K:"});
        break;
    case ColorModeRGB:
        showLabels({"R:", "G:", "B:"});
        break;
    default:
        break;
    }
    const std::array<TFloatEdit*, 4> edits = AngleEdits();
    for (size_t i = 1; i < edits.size(); ++i)
        edits[i]->SetVisible(labels[i]->Visible());
    SetControlStates();
}

void TStipplorForm::SetControlStates() {
    const int mode = ColorModeRadioGroup.ItemIndex();
    const bool raster = GenerateRasterBox.Checked();
    const bool combine = CombineResultsBox.Checked();
    EnableWithContents(RasterOptionsGroup, raster);
    EnableWithContents(CMYKOptionsGroup, mode == ColorModeCMYK);
    // These override what the raster group's switch gave them.
    CombineResultsBox.SetEnabled(raster && mode != ColorModeGrayscale);
    ShowInColorBox.SetEnabled(raster && mode != ColorModeGrayscale && !combine &&
                              !TIFFOutputBox.Checked());
    const bool fileOutputAvailable = raster && (!combine || mode == ColorModeGrayscale);
    TIFFOutputBox.SetEnabled(fileOutputAvailable);
    if (!fileOutputAvailable)
        TIFFOutputBox.SetChecked(false);
    OutputPathEdit.SetEnabled(TIFFOutputBox.Checked());
    InvertCheckBox.SetEnabled(TIFFOutputBox.Checked());
    // The conversion table does not use the image gamma.
    GammaLabel.SetEnabled(mode == ColorModeGrayscale || mode == ColorModeRGB ||
                          DirectConversionButton.Checked());
}

void TStipplorForm::CellSizeEditChangeValue() {
    if (SourceBitmap == nullptr) {
        ResultSizeLabel.SetCaption({});
        return;
    }
    // In 64 bits: a screened plane of a wide picture may exceed what 32 bits hold, and the
    // label must not show a wrapped size.
    const int64_t cell = CellSizeEdit.Value();
    ResultSizeLabel.SetCaption(std::to_string(SourceBitmap->Width() * cell) + " x " +
                               std::to_string(SourceBitmap->Height() * cell));
}

void TStipplorForm::BlackPlaneGammaChangeValue() {
    DirectConversionButton.SetChecked(true);
}

void TStipplorForm::CMYKConversionTableEditChange() {
    CMYKConversionTableButton.SetChecked(true);
}

void TStipplorForm::SelectConversionTableButtonClick() {
    toolkit::TOpenDialog dialog;
    dialog.Filter = kConversionTableFilter;
    dialog.Options = toolkit::ofHideReadOnly | toolkit::ofFileMustExist | toolkit::ofEnableSizing;
    const std::string& text = CMYKConversionTableEdit.Text();
    if (!text.empty() && IsFolderSeparator(text.back())) {
        dialog.InitialDir = text;
    } else {
        dialog.InitialDir = FolderPart(text);
        // Characters that no file name holds would make the dialog refuse its start.
        const bool nameUsable = text.find_first_of("|<>\"") == std::string::npos;
        if (nameUsable && (dialog.InitialDir.empty() || DirectoryExists(dialog.InitialDir)))
            dialog.FileName = text;
    }
    if (!dialog.Execute())
        return;
    CMYKConversionTableEdit.SetText(dialog.FileName);
    CMYKConversionTableButton.SetChecked(true);
}

} // namespace stipplor
