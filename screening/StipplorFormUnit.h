#pragma once
// TStipplorForm: the one modal dialog in which every choice of a screening run is made. It
// loads the saved settings into its controls when it is created, asks the host for the
// image's gamma, and keeps its controls consistent with each other while the user works.
// The toolkit names of the controls are the member names, so automation finds them by name.
// UI thread only.
#include "bitmap/LinarBitmap.h"
#include "controls/ValueEdits.h"
#include "engine/HalftoneScreen.h"
#include "screening/HostLink.h"
#include "toolkit/Forms.h"

#include <array>
#include <string>
#include <string_view>

namespace stipplor {

// Where the dialog's settings live, below the current user's root.
inline constexpr std::string_view StipplorSettingsKey = "Software\\Vorlane\\Orvalis\\Stipplor";

// Item indexes of ColorModeRadioGroup; ColorModeNone when no mode is selected.
inline constexpr int ColorModeNone = -1;
inline constexpr int ColorModeGrayscale = 0;
inline constexpr int ColorModeCMYK = 1;
inline constexpr int ColorModeRGB = 2;

// The item indexes of DotShapeGroup are the engine's dot shapes, DotShapeCircle and
// DotShapeDiamond.

class TStipplorForm : public toolkit::TForm {
public:
    // Builds the controls with their design defaults and runs FormCreate.
    explicit TStipplorForm(THostLink Host);
    ~TStipplorForm() override;
    TStipplorForm(const TStipplorForm&) = delete;
    TStipplorForm& operator=(const TStipplorForm&) = delete;

    const char* ClassName() const noexcept override { return "TStipplorForm"; }

    // The gamma of the host's image: 1.0 unless the host reports a usable one.
    float ImageGamma = 1.0f;
    // The image to process; set before ShowModal and owned by the caller.
    TLinearBitmap* SourceBitmap = nullptr;
    // The document's file name without its extension; result titles start with it.
    std::string DocumentBaseName;

    const THostLink& Host() const noexcept { return host_; }

    // ShowModal(), inherited, runs FormShow and returns the modal result: 2 after Cancel,
    // 6 after a completed run.

    // ---- The controls, in creation order (the tab order); parents before their children. ----
    toolkit::TRadioGroup& ColorModeRadioGroup = Add<toolkit::TRadioGroup>("ColorModeRadioGroup");

    toolkit::TGroupBox& CMYKOptionsGroup = Add<toolkit::TGroupBox>("CMYKOptionsGroup");
    toolkit::TRadioButton& DirectConversionButton =
        CMYKOptionsGroup.Add<toolkit::TRadioButton>("DirectConversionButton");
    toolkit::TLabel& BlackInkUsageLabel =
        CMYKOptionsGroup.Add<toolkit::TLabel>("BlackInkUsageLabel");
    TFloatEdit& BlackPlaneGamma = CMYKOptionsGroup.Add<TFloatEdit>("BlackPlaneGamma");
    toolkit::TLabel& PercentLabel = CMYKOptionsGroup.Add<toolkit::TLabel>("PercentLabel");
    toolkit::TRadioButton& CMYKConversionTableButton =
        CMYKOptionsGroup.Add<toolkit::TRadioButton>("CMYKConversionTableButton");
    toolkit::TEdit& CMYKConversionTableEdit =
        CMYKOptionsGroup.Add<toolkit::TEdit>("CMYKConversionTableEdit");
    toolkit::TSpeedButton& SelectConversionTableButton =
        CMYKOptionsGroup.Add<toolkit::TSpeedButton>("SelectConversionTableButton");

    // The check box lies on the raster group's frame, beside it rather than inside it, so
    // that switching the group off leaves the box itself available.
    toolkit::TCheckBox& GenerateRasterBox = Add<toolkit::TCheckBox>("GenerateRasterBox");
    toolkit::TGroupBox& RasterOptionsGroup = Add<toolkit::TGroupBox>("RasterOptionsGroup");
    toolkit::TLabel& CellSizeLabel = RasterOptionsGroup.Add<toolkit::TLabel>("CellSizeLabel");
    TIntegerEdit& CellSizeEdit = RasterOptionsGroup.Add<TIntegerEdit>("CellSizeEdit");
    toolkit::TLabel& ResultSizeLabel = RasterOptionsGroup.Add<toolkit::TLabel>("ResultSizeLabel");
    toolkit::TLabel& PatternAnglesLabel =
        RasterOptionsGroup.Add<toolkit::TLabel>("PatternAnglesLabel");
    toolkit::TLabel& Angle1Label = RasterOptionsGroup.Add<toolkit::TLabel>("Angle1Label");
    TFloatEdit& AngleEdit1 = RasterOptionsGroup.Add<TFloatEdit>("AngleEdit1");
    toolkit::TLabel& Angle2Label = RasterOptionsGroup.Add<toolkit::TLabel>("Angle2Label");
    TFloatEdit& AngleEdit2 = RasterOptionsGroup.Add<TFloatEdit>("AngleEdit2");
    toolkit::TLabel& Angle3Label = RasterOptionsGroup.Add<toolkit::TLabel>("Angle3Label");
    TFloatEdit& AngleEdit3 = RasterOptionsGroup.Add<TFloatEdit>("AngleEdit3");
    toolkit::TLabel& Angle4Label = RasterOptionsGroup.Add<toolkit::TLabel>("Angle4Label");
    TFloatEdit& AngleEdit4 = RasterOptionsGroup.Add<TFloatEdit>("AngleEdit4");
    toolkit::TRadioGroup& DotShapeGroup =
        RasterOptionsGroup.Add<toolkit::TRadioGroup>("DotShapeGroup");
    toolkit::TCheckBox& CombineResultsBox =
        RasterOptionsGroup.Add<toolkit::TCheckBox>("CombineResultsBox");
    toolkit::TCheckBox& ShowInColorBox =
        RasterOptionsGroup.Add<toolkit::TCheckBox>("ShowInColorBox");
    toolkit::TGroupBox& TIFFOutputGroup =
        RasterOptionsGroup.Add<toolkit::TGroupBox>("TIFFOutputGroup");
    toolkit::TCheckBox& TIFFOutputBox = TIFFOutputGroup.Add<toolkit::TCheckBox>("TIFFOutputBox");
    toolkit::TEdit& OutputPathEdit = TIFFOutputGroup.Add<toolkit::TEdit>("OutputPathEdit");
    toolkit::TCheckBox& InvertCheckBox = TIFFOutputGroup.Add<toolkit::TCheckBox>("InvertCheckBox");

    toolkit::TLabel& GammaLabel = Add<toolkit::TLabel>("GammaLabel");
    // The default button; it has no modal result of its own: the run closes the dialog.
    toolkit::TButton& OKButton = Add<toolkit::TButton>("OKButton");
    // Named apart from TCustomForm::CancelButton(), which finds the form's cancel button.
    toolkit::TButton& CancelDialogButton = Add<toolkit::TButton>("CancelButton");

    // The angle fields and their labels in plane order: the first plane's field first.
    std::array<TFloatEdit*, 4> AngleEdits() const noexcept;
    std::array<toolkit::TLabel*, 4> AngleLabels() const noexcept;

    // ---- Event handlers, wired to their controls. ----
    // Loads the settings into the controls and asks the host for the image's gamma.
    void FormCreate();
    // Grey 8-bit images are always screened as Grayscale; fills the result size.
    void FormShow();
    // Angle labels and fields for the colour mode, then SetControlStates.
    void ColorModeRadioGroupClick();
    // The enabling rules; also the click handler of the check boxes and radio buttons whose
    // state they depend on.
    void SetControlStates();
    void CellSizeEditChangeValue();
    void BlackPlaneGammaChangeValue();
    void CMYKConversionTableEditChange();
    void SelectConversionTableButtonClick();
    // The run, which ends the dialog with modal result 6 once it is complete. Until the
    // pipeline is there it does nothing, and the dialog stays open.
    void OKButtonClick();

private:
    void SetDesignDefaults();
    void ConnectHandlers();
    // Saves the settings of a run in one update (ScreeningPipeline.cpp).
    void SaveRunSettings();

    THostLink host_;
};

} // namespace stipplor
