#include "screening/StipplorFormUnit.h"

namespace stipplor {

TStipplorForm::TStipplorForm(THostLink Host) : TForm("StipplorForm"), host_(std::move(Host)) {
    SetCaption("Stipplor");
    SetClientSize(468, 423);
    SetPosition(toolkit::TPosition::ScreenCenter);
    OKButton.SetCaption("OK");
    OKButton.SetDefault(true);
    CancelDialogButton.SetCaption("Cancel");
    CancelDialogButton.SetCancel(true);
    CancelDialogButton.SetModalResult(toolkit::mrCancel);
}

TStipplorForm::~TStipplorForm() = default;

void TStipplorForm::FormCreate() {}
void TStipplorForm::FormShow() {}
void TStipplorForm::ColorModeRadioGroupClick() {}
void TStipplorForm::SetControlStates() {}
void TStipplorForm::CellSizeEditChangeValue() {}
void TStipplorForm::BlackPlaneGammaChangeValue() {}
void TStipplorForm::CMYKConversionTableEditChange() {}
void TStipplorForm::SelectConversionTableButtonClick() {}
void TStipplorForm::SetDesignDefaults() {}
void TStipplorForm::ConnectHandlers() {}

} // namespace stipplor
