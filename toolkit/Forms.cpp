#include "toolkit/Agents.h"
#include "toolkit/Controls.h"

#include <algorithm>
#include <vector>

namespace toolkit {

namespace {

std::vector<const void*>& ModalStack() {
    static std::vector<const void*> stack;
    return stack;
}

std::vector<const TCustomForm*>& LiveForms() {
    static std::vector<const TCustomForm*> forms;
    return forms;
}

bool IsWithin(const TControl* control, const TControl* ancestor) noexcept {
    for (; control; control = control->Parent())
        if (control == ancestor)
            return true;
    return false;
}

} // namespace

namespace detail {

TModalScope::TModalScope(const void* window) : window_(window) {
    ModalStack().push_back(window);
}

TModalScope::~TModalScope() {
    auto& stack = ModalStack();
    auto it = std::find(stack.rbegin(), stack.rend(), window_);
    if (it != stack.rend())
        stack.erase(std::next(it).base());
}

const void* TopModalWindow() noexcept {
    const auto& stack = ModalStack();
    return stack.empty() ? nullptr : stack.back();
}

TCustomForm* LiveForm(const void* address) noexcept {
    for (const TCustomForm* form : LiveForms())
        if (static_cast<const void*>(form) == address)
            return const_cast<TCustomForm*>(form);
    return nullptr;
}

} // namespace detail

TCustomForm::TCustomForm(std::string name) : TWinControl(std::move(name)) {
    isForm_ = true;
    visible_ = false;
    LiveForms().push_back(this);
}

TCustomForm::~TCustomForm() {
    // The controls go while the form is whole: their last words reach it.
    DestroyChildren();
    auto& forms = LiveForms();
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
}

void TCustomForm::SetClientSize(int width, int height) {
    SetBounds(Left(), Top(), std::max(width, 0) + 2 * FrameWidth,
              std::max(height, 0) + CaptionHeight + 2 * FrameWidth);
}

int TCustomForm::ClientWidth() const noexcept {
    return std::max(Width() - 2 * FrameWidth, 0);
}

int TCustomForm::ClientHeight() const noexcept {
    return std::max(Height() - CaptionHeight - 2 * FrameWidth, 0);
}

void TCustomForm::SetActiveControl(TWinControl* control) {
    if (control == activeControl_)
        return;
    if (control && (control->Form() != this || !control->CanFocus()))
        throw EInvalidOperation("Cannot focus a disabled or invisible window");
    if (TWinControl* previous = activeControl_)
        previous->DoExit();
    activeControl_ = control;
    if (control)
        control->DoEnter();
}

void TCustomForm::ControlGone(TControl& control) noexcept {
    if (activeControl_ && IsWithin(activeControl_, &control))
        activeControl_ = nullptr;
}

bool TCustomForm::AcceptsInput() const noexcept {
    return open_ && detail::TopModalWindow() == this;
}

void TCustomForm::Close() {
    if (modal_)
        modalResult_ = mrCancel;
}

TModalResult TCustomForm::ShowModal() {
    if (modal_ || Visible() || !Enabled())
        throw EInvalidOperation("Cannot make a visible window modal");
    CreateHandles();
    PlaceOnScreen();
    modalResult_ = mrNone;
    modal_ = true;
    open_ = true;
    visible_ = true;
    detail::TModalScope modalScope(this);
    struct Closer {
        TCustomForm& form;
        ~Closer() {
            form.open_ = false;
            form.modal_ = false;
            form.visible_ = false;
            form.LoseInput();
        }
    } closer{*this};

    if (OnShow)
        OnShow(*this);
    auto closedByInput = [this] {
        bool closed = false;
        Application().Dispatch([&] { closed = CheckModalEnd(); });
        return closed;
    };
    Application().Dispatch([this] { FocusFirst(); });
    if (!closedByInput()) {
        detail::RunFormAgent(*this);
        // An agent that returns without closing the form leaves it as a user who closes the
        // window would; so does the absence of an agent.
        if (!closedByInput()) {
            modalResult_ = mrCancel;
            open_ = false;
        }
    }
    if (OnHide)
        OnHide(*this);
    return modalResult_;
}

bool TCustomForm::CheckModalEnd() {
    if (!open_)
        return true;
    if (modalResult_ == mrNone)
        return false;
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(*this, canClose);
    if (!canClose) {
        modalResult_ = mrNone;
        return false;
    }
    open_ = false;
    return true;
}

void TCustomForm::FocusFirst() {
    if (activeControl_ && activeControl_->CanFocus())
        return;
    activeControl_ = nullptr;
    SelectNext(true);
}

void TCustomForm::PlaceOnScreen() {
    if (position_ == TPosition::ScreenCenter)
        SetBounds((Screen().Width() - Width()) / 2, (Screen().Height() - Height()) / 2, Width(),
                  Height());
}

static bool IsTabStop(const TControl* control) noexcept {
    auto* windowed = dynamic_cast<const TWinControl*>(control);
    return windowed && windowed->TabStop() && windowed->CanFocus();
}

TButton* TCustomForm::DefaultButton() const noexcept {
    for (TControl* control : AllControls())
        if (auto* button = dynamic_cast<TButton*>(control))
            if (button->Default() && button->IsEnabled() && button->Showing())
                return button;
    return nullptr;
}

TButton* TCustomForm::CancelButton() const noexcept {
    for (TControl* control : AllControls())
        if (auto* button = dynamic_cast<TButton*>(control))
            if (button->Cancel() && button->IsEnabled() && button->Showing())
                return button;
    return nullptr;
}

bool TCustomForm::DialogKey(TKey key, TShiftState shift) {
    switch (key) {
    case vkTab:
        return SelectNext((shift & ssShift) == 0);
    case vkReturn:
        if (TButton* button = DefaultButton()) {
            button->Click();
            return true;
        }
        return false;
    case vkEscape:
        if (TButton* button = CancelButton()) {
            button->Click();
            return true;
        }
        return false;
    default:
        return false;
    }
}

bool TCustomForm::SelectNext(bool forward) {
    std::vector<TWinControl*> stops;
    for (TControl* control : AllControls())
        if (IsTabStop(control))
            stops.push_back(static_cast<TWinControl*>(control));
    if (stops.empty())
        return false;
    auto current = std::find(stops.begin(), stops.end(), activeControl_);
    std::size_t next = 0;
    if (current == stops.end())
        next = forward ? 0 : stops.size() - 1;
    else {
        std::size_t index = static_cast<std::size_t>(current - stops.begin());
        next = forward ? (index + 1) % stops.size() : (index + stops.size() - 1) % stops.size();
    }
    SetActiveControl(stops[next]);
    return true;
}

} // namespace toolkit
