#include "screening/ScreeningPipeline.h"

#include "bitmap/FileMappedBitmap.h"
#include "core/Text.h"
#include "engine/ColorSeparation.h"
#include "engine/HalftoneScreen.h"
#include "engine/Rotation.h"
#include "screening/ConversionTable.h"
#include "screening/StipplorFormUnit.h"
#include "settings/Settings.h"
#include "toolkit/Application.h"

#include <memory>
#include <utility>

namespace stipplor {

namespace {

// Channel number that makes ApplyTable map every byte of every row.
constexpr int32_t AllBytes = 3;

struct TRun {
    const TScreeningSettings& Settings;
    TPlaneOutput& Output;
    const TReportProgress& Report;
    TToneTable ToneTable{};

    // The tone table corrects the picture's gamma; for a gamma of 1 it changes nothing.
    bool ToneTableApplies() const { return EffectiveGamma(Settings.Gamma) != 1.0f; }

    // Plates that only go to files are written straight from their cells: no raster.
    bool PlatesOnlyToFiles() const { return Output.FileOutput() && !Settings.Combine; }

    TScreenedCells Cells(TLinearBitmap& Plane, int Index) const {
        return ScreenCells(Plane, Settings.CellSize, Settings.DotShape,
                           Settings.Angles[static_cast<size_t>(Index)]);
    }

    void Grayscale(const TLinearBitmap& Source);
    void CMYK(TLinearBitmap& Source);
    void RGB(TLinearBitmap& Source);
};

void TRun::Grayscale(const TLinearBitmap& Source) {
    std::unique_ptr<TLinearBitmap> plane = std::make_unique<TLinearBitmap>();
    MakeGreyPlane(Source, *plane, Settings.Gamma);
    if (ToneTableApplies())
        ApplyTable(ToneTable, *plane, AllBytes);
    InvertPlane(*plane); // so that 255 is black ink
    SetPlanePalette(*plane, TPlane::K, Settings.InColor);
    Report(10);
    if (!Settings.Screening) {
        Output.SendPlaneToHost(*plane, TPlane::K);
        return;
    }
    const TScreenedCells cells = Cells(*plane, 0);
    plane.reset();
    if (Output.FileOutput()) {
        Output.EmitPlaneFile(cells, TPlane::K);
        return;
    }
    TFileMappedBitmap raster;
    MakeHostRaster(cells, raster);
    Output.SendPlaneToHost(raster, TPlane::K);
}

void TRun::CMYK(TLinearBitmap& Source) {
    constexpr std::array<TPlane, 4> kinds = {TPlane::C, TPlane::M, TPlane::Y, TPlane::K};
    constexpr std::array<int32_t, 4> screened = {30, 55, 77, 99};
    constexpr std::array<int32_t, 4> emitted = {35, 57, 79, 0};
    constexpr std::array<uint8_t, 4> combinationBit = {1, 2, 4, 8};
    constexpr int K = 3;

    Source.ConvertTo(PixelFormat24);
    TPlaneSet planes = CreatePlanes(4);
    if (Settings.DirectConversion)
        SeparateCMYK(Source, planes[0], planes[1], planes[2], planes[3], Settings.BlackInkUsage,
                     Settings.Gamma);
    else
        LoadConversionPlanes(Source, planes[0], planes[1], planes[2], planes[3],
                             Settings.ConversionTable);
    SetPlanePalette(planes[K], TPlane::K, Settings.InColor);
    for (int i = 0; i < K; ++i)
        SetPlanePalette(planes[i], kinds[static_cast<size_t>(i)], Settings.InColor);
    Report(10);

    if (!Settings.Screening) {
        for (int i = 0; i < 4; ++i) {
            Output.SendPlaneToHost(planes[i], kinds[static_cast<size_t>(i)]);
            planes.Free(i);
        }
        return;
    }
    // Every plane goes from its cells: to its file, into the combined image, or into the one
    // raster that serves every plane in turn on its way to the host.
    auto target = std::make_unique<TFileMappedBitmap>();
    std::unique_ptr<TFileMappedBitmap> combined;
    for (int i = 0; i < 4; ++i) {
        const auto at = static_cast<size_t>(i);
        const TScreenedCells cells = Cells(planes[i], i);
        planes.Free(i);
        if (PlatesOnlyToFiles()) {
            Report(screened[at]);
            Output.EmitPlaneFile(cells, kinds[at]);
        } else if (Settings.Combine) {
            Report(screened[at]);
            if (i == 0)
                combined = StartCMYKCombination(cells);
            else
                AddToCMYKCombination(*combined, cells, combinationBit[at]);
        } else {
            MakeHostRaster(cells, *target);
            Report(screened[at]);
            Output.SendPlaneToHost(*target, kinds[at]);
        }
        if (i < K)
            Report(emitted[at]);
    }
    if (combined) {
        target.reset();
        Output.SendPlaneToHost(*combined, TPlane::CMYK);
    }
}

void TRun::RGB(TLinearBitmap& Source) {
    constexpr std::array<TPlane, 3> kinds = {TPlane::R, TPlane::G, TPlane::B};
    constexpr std::array<int32_t, 3> screened = {30, 65, 90};

    Source.ConvertTo(PixelFormat24);
    TPlaneSet planes = MakeRGBPlanes(Source);
    if (ToneTableApplies())
        for (int i = 0; i < 3; ++i)
            ApplyTable(ToneTable, planes[i], AllBytes);
    for (int i = 0; i < 3; ++i)
        SetPlanePalette(planes[i], kinds[static_cast<size_t>(i)], Settings.InColor);
    Report(5);

    if (Settings.Screening) {
        // The files are written from the cells; the host gets the rasters one at a time, or
        // the one image that combines them.
        std::array<TScreenedCells, 3> cells;
        for (int i = 0; i < 3; ++i) {
            cells[static_cast<size_t>(i)] = Cells(planes[i], i);
            planes.Free(i);
            Report(screened[static_cast<size_t>(i)]);
        }
        for (size_t i = 0; i < 3; ++i)
            if (Output.FileOutput())
                Output.EmitPlaneFile(cells[i], kinds[i]);
        if (Settings.Combine) {
            Output.CombineRGB(cells);
            return;
        }
        for (size_t i = 0; i < 3 && Output.SendsToHost(); ++i) {
            TFileMappedBitmap raster;
            MakeHostRaster(std::exchange(cells[i], {}), raster);
            Output.SendPlaneToHost(raster, kinds[i]);
        }
        return;
    }
    for (int i = 0; i < 3; ++i) {
        Output.SendPlaneToHost(planes[i], kinds[static_cast<size_t>(i)]);
        planes.Free(i);
    }
}

} // namespace

void RunScreening(TLinearBitmap& Source, const TScreeningSettings& Settings, TPlaneOutput& Output,
                  const TReportProgress& Report) {
    TRun run{Settings, Output, Report};
    // A gamma that is no positive finite number counts as 1, as in the separations.
    MakeGammaTable(run.ToneTable, 1.0 / static_cast<double>(EffectiveGamma(Settings.Gamma)));
    switch (Settings.ColorMode) {
    case ColorModeGrayscale:
        run.Grayscale(Source);
        break;
    case ColorModeCMYK:
        run.CMYK(Source);
        break;
    case ColorModeRGB:
        run.RGB(Source);
        break;
    default: // no mode chosen: nothing to produce
        break;
    }
}

// ---- The dialog's side of a run. ----

namespace {

void ReportProgress(int32_t Percent) {
    if (ProgressHook)
        ProgressHook(Percent);
}

} // namespace

void TStipplorForm::OKButtonClick() {
    const std::array<const TFloatEdit*, 4> angleEdits = {&AngleEdit1, &AngleEdit2, &AngleEdit3,
                                                         &AngleEdit4};
    const bool screening = GenerateRasterBox.Checked();
    if (screening) {
        // Hidden angle fields count too: their values are saved with the others.
        bool valid = CellSizeEdit.TextValid();
        for (const TFloatEdit* edit : angleEdits)
            valid = valid && edit->TextValid();
        if (!valid)
            throw Exception("Invalid value for field");
    }
    const bool fileOutput = TIFFOutputBox.Checked();
    if (fileOutput && Trim(OutputPathEdit.Text()).empty())
        throw Exception("Output path not specified");

    {
        const toolkit::TBusyCursor busy;
        ProgressHook = Host().ReportProgress;
        ReportProgress(0);
        if (Visible())
            SaveRunSettings();

        TScreeningSettings settings;
        settings.ColorMode = ColorModeRadioGroup.ItemIndex();
        settings.Screening = screening;
        settings.CellSize = CellSizeEdit.Value();
        for (size_t i = 0; i < angleEdits.size(); ++i)
            settings.Angles[i] = DegreesToRadians(angleEdits[i]->Value());
        // A stored shape below 0 selects no item; the design default stands in for it.
        settings.DotShape =
            DotShapeGroup.ItemIndex() == DotShapeCircle ? DotShapeCircle : DotShapeDiamond;
        settings.Combine = CombineResultsBox.Checked();
        settings.InColor = ShowInColorBox.Checked();
        settings.DirectConversion = DirectConversionButton.Checked();
        settings.ConversionTable = CMYKConversionTableEdit.Text();
        settings.BlackInkUsage = static_cast<float>(BlackPlaneGamma.Value() / 100.0L);
        settings.Gamma = ImageGamma;

        TPlaneOutput output(
            {fileOutput, OutputPathEdit.Text(), InvertCheckBox.Checked(), DocumentBaseName},
            Host().SendImage);
        if (SourceBitmap)
            RunScreening(*SourceBitmap, settings, output, ReportProgress);
        else if (settings.ColorMode != ColorModeNone)
            throw ELinearBitmap("Invalid bitmap size");
        ReportProgress(100);
    }
    SetModalResult(toolkit::mrYes);
}

void TStipplorForm::SaveRunSettings() {
    // One run's settings land together, so no reader ever sees half of them.
    if (!ProgramSetup)
        OpenProgramSetup(StipplorSettingsKey);
    ProgramSetup->Update([this] {
        TProgramSetup& setup = *ProgramSetup;
        setup.WriteInteger("ColorMode", ColorModeRadioGroup.ItemIndex());
        setup.WriteString("ConversionTable", CMYKConversionTableEdit.Text());
        setup.WriteBool("UseTable", CMYKConversionTableButton.Checked());
        setup.WriteBool("GenerateRaster", GenerateRasterBox.Checked());
        setup.WriteFloat("BlackPlaneGamma", static_cast<double>(BlackPlaneGamma.Value()));
        setup.WriteFloat("Angle1", static_cast<double>(AngleEdit1.Value()));
        setup.WriteFloat("Angle2", static_cast<double>(AngleEdit2.Value()));
        setup.WriteFloat("Angle3", static_cast<double>(AngleEdit3.Value()));
        setup.WriteFloat("Angle4", static_cast<double>(AngleEdit4.Value()));
        setup.WriteInteger("CellSize", CellSizeEdit.Value());
        setup.WriteInteger("DotShape", DotShapeGroup.ItemIndex());
        setup.WriteBool("CombineResults", CombineResultsBox.Checked());
        setup.WriteBool("ShowInColorBox", ShowInColorBox.Checked());
        setup.WriteBool("TIFFOutputBox", TIFFOutputBox.Checked());
        setup.WriteString("OutputPath", OutputPathEdit.Text());
    });
}

} // namespace stipplor
