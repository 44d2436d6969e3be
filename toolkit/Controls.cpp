#include "toolkit/Controls.h"

#include "core/Rounding.h"

#include <algorithm>
#include <cstdlib>

namespace toolkit {

namespace {

bool IsWithin(const TControl* control, const TControl* ancestor) noexcept {
    for (; control; control = control->Parent())
        if (control == ancestor)
            return true;
    return false;
}

// Advance of one character (its first byte) in twentieths of the font height.
int CharacterAdvance(char c) noexcept {
    auto among = [c](std::string_view set) { return set.find(c) != std::string_view::npos; };
    if (among("ijlI.,:;!|'"))
        return 5;
    if (among("ftr ()[]-\""))
        return 7;
    if (among("mwMW"))
        return 16;
    if (c >= 'A' && c <= 'Z')
        return 13;
    if (c >= '0' && c <= '9')
        return 11;
    if (c >= 'a' && c <= 'z')
        return 10;
    return 11;
}

bool IsUtf8Continuation(char c) noexcept {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

TColor ColorToRGB(TColor color) noexcept {
    if ((color & clSystemColor) != clSystemColor)
        return color & 0xFFFFFFu;
    switch (color) {
    case clWindow:
        return 0xFFFFFFu;
    case clBtnFace:
        return 0xF0F0F0u;
    case clGrayText:
        return 0x6D6D6Du;
    default:
        return 0x000000u;
    }
}

int TextWidth(std::string_view text, int fontHeight) {
    std::int64_t units = 0;
    for (char c : text)
        if (!IsUtf8Continuation(c))
            units += CharacterAdvance(c);
    double height = std::abs(static_cast<double>(fontHeight));
    return stipplor::RoundToInt32(static_cast<double>(units) * height / 20.0);
}

std::string StripAccelerator(std::string_view caption) {
    std::string result;
    result.reserve(caption.size());
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&')
                result += '&';
            else
                continue;
            ++i;
            continue;
        }
        result += caption[i];
    }
    return result;
}

// ---- TControl ---------------------------------------------------------------------------

TControl::TControl(std::string name) : name_(std::move(name)) {}

TControl::~TControl() {
    LoseInput(true);
}

TCustomForm* TControl::Form() const noexcept {
    // Walks the plain parent links only: this also runs while parents are being destroyed.
    for (const TControl* c = this; c; c = c->parent_)
        if (c->isForm_)
            return static_cast<TCustomForm*>(const_cast<TControl*>(c));
    return nullptr;
}

void TControl::SetBounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
}

TPoint TControl::ClientToForm(TPoint p) const noexcept {
    for (const TControl* c = this; c && !c->isForm_; c = c->parent_) {
        p.X += c->left_;
        p.Y += c->top_;
    }
    return p;
}

void TControl::SetCaption(std::string caption) {
    caption_ = std::move(caption);
}

void TControl::SetEnabled(bool enabled) {
    if (enabled_ == enabled)
        return;
    enabled_ = enabled;
    if (!enabled)
        LoseInput();
    EnabledChanged();
}

void TControl::SetVisible(bool visible) {
    if (visible_ == visible)
        return;
    visible_ = visible;
    if (!visible && !isForm_)
        LoseInput();
    VisibleChanged();
}

bool TControl::IsEnabled() const noexcept {
    for (const TControl* c = this; c; c = c->parent_)
        if (!c->enabled_)
            return false;
    return true;
}

bool TControl::Showing() const noexcept {
    const TControl* c = this;
    for (; c; c = c->parent_) {
        if (!c->visible_)
            return false;
        if (c->isForm_)
            return true;
    }
    return false;
}

bool TControl::MouseCapture() const noexcept {
    return Mouse().Capture() == this;
}

void TControl::LoseInput(bool dying) noexcept {
    TMouse& mouse = Mouse();
    clickPending_ = false;
    if (mouse.capture_ && IsWithin(mouse.capture_, this)) {
        TControl* holder = mouse.capture_;
        mouse.capture_ = nullptr;
        holder->clickPending_ = false;
        // A dying control is no longer what it was: no virtual call reaches it.
        if (!(dying && holder == this)) {
            try {
                holder->CancelMode();
            } catch (...) {
                // Losing the capture cannot fail; a handler's error has nowhere to go here.
            }
        }
    }
    if (mouse.hover_ && IsWithin(mouse.hover_, this))
        mouse.hover_ = nullptr;
    if (isForm_)
        return; // (a dying form is no TCustomForm any more: no cast to it)
    if (TCustomForm* form = Form())
        form->ControlGone(*this);
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (button == TMouseButton::Left && IsEnabled())
        clickPending_ = true;
    if (OnMouseDown)
        OnMouseDown(*this, button, shift, x, y);
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    bool click = button == TMouseButton::Left && clickPending_;
    if (button == TMouseButton::Left)
        clickPending_ = false;
    if (OnMouseUp)
        OnMouseUp(*this, button, shift, x, y);
    if (click)
        Clicked();
}

void TControl::Click() {
    if (OnClick)
        OnClick(*this);
}

bool TControl::DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos) {
    bool handled = false;
    if (OnMouseWheel)
        OnMouseWheel(*this, shift, wheelDelta, mousePos, handled);
    if (!handled && parent_)
        handled = parent_->DoMouseWheel(shift, wheelDelta, mousePos);
    return handled;
}

void TControl::KeyDown(TKey& key, TShiftState shift) {
    if (OnKeyDown)
        OnKeyDown(*this, key, shift);
}

void TControl::DoEnter() {
    if (OnEnter)
        OnEnter(*this);
}

void TControl::DoExit() {
    if (OnExit)
        OnExit(*this);
}

// ---- TWinControl ------------------------------------------------------------------------

TWinControl::TWinControl(std::string name) : TControl(std::move(name)) {}

TWinControl::~TWinControl() {
    DestroyChildren();
}

void TWinControl::DestroyChildren() noexcept {
    // Last first, and out of the list before it dies, so a dying child never sees itself
    // among its parent's children.
    while (!children_.empty()) {
        std::unique_ptr<TControl> child = std::move(children_.back());
        children_.pop_back();
        child.reset();
    }
}

TControl& TWinControl::InsertControl(std::unique_ptr<TControl> child) {
    if (!child)
        throw EInvalidOperation("Control has no parent window");
    if (child->isForm_)
        throw EInvalidOperation("A form cannot be placed on another control");
    child->parent_ = this;
    children_.push_back(std::move(child));
    TControl& inserted = *children_.back();
    if (handleAllocated_)
        if (auto* windowed = dynamic_cast<TWinControl*>(&inserted))
            windowed->CreateHandles();
    return inserted;
}

std::unique_ptr<TControl> TWinControl::RemoveControl(TControl& child) {
    auto it = std::find_if(children_.begin(), children_.end(),
                           [&](const std::unique_ptr<TControl>& c) { return c.get() == &child; });
    if (it == children_.end())
        return nullptr;
    child.LoseInput();
    std::unique_ptr<TControl> removed = std::move(*it);
    children_.erase(it);
    removed->parent_ = nullptr;
    return removed;
}

TControl* TWinControl::FindControl(std::string_view name) const noexcept {
    if (std::size_t dot = name.find('.'); dot != std::string_view::npos) {
        auto* outer = dynamic_cast<TWinControl*>(FindControl(name.substr(0, dot)));
        return outer ? outer->FindControl(name.substr(dot + 1)) : nullptr;
    }
    for (const auto& child : children_) {
        if (child->Name() == name)
            return child.get();
        if (auto* windowed = dynamic_cast<const TWinControl*>(child.get()))
            if (TControl* found = windowed->FindControl(name))
                return found;
    }
    return nullptr;
}

std::vector<TControl*> TWinControl::AllControls() const {
    std::vector<TControl*> result;
    for (const auto& child : children_) {
        result.push_back(child.get());
        if (auto* windowed = dynamic_cast<const TWinControl*>(child.get())) {
            std::vector<TControl*> below = windowed->AllControls();
            result.insert(result.end(), below.begin(), below.end());
        }
    }
    return result;
}

bool TWinControl::CanFocus() const noexcept {
    for (const TControl* c = this; c; c = c->parent_) {
        if (!c->enabled_)
            return false;
        if (c->isForm_)
            return c != this;
        if (!c->visible_)
            return false;
    }
    return false;
}

bool TWinControl::Focused() const noexcept {
    TCustomForm* form = Form();
    return form && form->ActiveControl() == this;
}

void TWinControl::SetFocus() {
    TCustomForm* form = Form();
    if (!form || form == this)
        throw EInvalidOperation("Cannot focus a disabled or invisible window");
    form->SetActiveControl(this);
}

void TWinControl::HandleNeeded() {
    if (handleAllocated_)
        return;
    handleAllocated_ = true;
    CreateWnd();
}

void TWinControl::RecreateWnd() {
    if (!handleAllocated_)
        return;
    DestroyWnd();
    handleAllocated_ = false;
    HandleNeeded();
}

void TWinControl::CreateHandles() {
    HandleNeeded();
    for (const auto& child : children_)
        if (auto* windowed = dynamic_cast<TWinControl*>(child.get()))
            windowed->CreateHandles();
}

// ---- Buttons ----------------------------------------------------------------------------

TButton::TButton(std::string name) : TWinControl(std::move(name)) {
    SetTabStop(true);
}

void TButton::Click() {
    if (modalResult_ != mrNone)
        if (TCustomForm* form = Form())
            form->SetModalResult(modalResult_);
    TWinControl::Click();
}

void TButton::KeyDown(TKey& key, TShiftState shift) {
    TWinControl::KeyDown(key, shift);
    if (key == vkSpace || key == vkReturn) {
        key = 0;
        Click();
    }
}

TCheckBox::TCheckBox(std::string name) : TWinControl(std::move(name)) {
    SetTabStop(true);
}

void TCheckBox::SetChecked(bool checked) {
    if (checked_ == checked)
        return;
    checked_ = checked;
    Click();
}

void TCheckBox::KeyDown(TKey& key, TShiftState shift) {
    TWinControl::KeyDown(key, shift);
    if (key == vkSpace) {
        key = 0;
        SetChecked(!checked_);
    }
}

TRadioButton::TRadioButton(std::string name) : TWinControl(std::move(name)) {
    SetTabStop(true);
}

void TRadioButton::SetChecked(bool checked) {
    if (checked_ == checked)
        return;
    checked_ = checked;
    if (!checked)
        return;
    if (TWinControl* parent = Parent())
        for (std::size_t i = 0; i < parent->ControlCount(); ++i)
            if (auto* sibling = dynamic_cast<TRadioButton*>(&parent->Controls(i)))
                if (sibling != this)
                    sibling->checked_ = false;
    Click();
}

void TRadioButton::KeyDown(TKey& key, TShiftState shift) {
    TWinControl::KeyDown(key, shift);
    if (key == vkSpace) {
        key = 0;
        SetChecked(true);
    }
}

// ---- TRadioGroup ------------------------------------------------------------------------

TRadioGroup::TRadioGroup(std::string name) : TWinControl(std::move(name)) {
    SetTabStop(true);
}

void TRadioGroup::SetItems(std::vector<std::string> items) {
    items_ = std::move(items);
    int last = static_cast<int>(items_.size()) - 1;
    itemIndex_ = std::min(itemIndex_, last);
}

void TRadioGroup::SetItemIndex(int index) {
    int last = static_cast<int>(items_.size()) - 1;
    index = std::clamp(index, -1, std::max(last, -1));
    if (index == itemIndex_)
        return;
    itemIndex_ = index;
    Click();
}

bool TRadioGroup::CanFocus() const noexcept {
    return !items_.empty() && TWinControl::CanFocus();
}

void TRadioGroup::KeyDown(TKey& key, TShiftState shift) {
    TWinControl::KeyDown(key, shift);
    int last = static_cast<int>(items_.size()) - 1;
    if (key == vkUp || key == vkLeft) {
        key = 0;
        if (itemIndex_ > 0)
            SetItemIndex(itemIndex_ - 1);
    } else if (key == vkDown || key == vkRight) {
        key = 0;
        if (itemIndex_ < last)
            SetItemIndex(itemIndex_ + 1);
    }
}

// ---- TEdit ------------------------------------------------------------------------------

TEdit::TEdit(std::string name) : TWinControl(std::move(name)) {
    SetTabStop(true);
}

void TEdit::SetText(std::string text) {
    ReplaceText(std::move(text), 0);
}

int TEdit::BorderSize() const noexcept {
    if (borderStyle_ == TBorderStyle::None)
        return 0;
    return ctl3D_ ? 2 : 1;
}

int TEdit::ClientWidth() const noexcept {
    return std::max(Width() - 2 * BorderSize(), 0);
}

int TEdit::ClientHeight() const noexcept {
    return std::max(Height() - 2 * BorderSize(), 0);
}

void TEdit::SetSelStart(int start) noexcept {
    selStart_ = std::clamp(start, 0, static_cast<int>(text_.size()));
    selLength_ = 0;
}

void TEdit::SetSelLength(int length) noexcept {
    selLength_ = std::clamp(length, 0, static_cast<int>(text_.size()) - selStart_);
}

void TEdit::SelectAll() noexcept {
    selStart_ = 0;
    selLength_ = static_cast<int>(text_.size());
}

std::string TEdit::SelText() const {
    return text_.substr(static_cast<std::size_t>(selStart_), static_cast<std::size_t>(selLength_));
}

void TEdit::SetSelText(std::string_view text) {
    text = text.substr(0, text.find_first_of("\r\n"));
    std::string updated = text_.substr(0, static_cast<std::size_t>(selStart_));
    updated.append(text);
    updated.append(text_, static_cast<std::size_t>(selStart_ + selLength_));
    ReplaceText(std::move(updated), selStart_ + static_cast<int>(text.size()));
}

void TEdit::ReplaceText(std::string text, int caret) {
    bool changed = text != text_;
    text_ = std::move(text);
    selStart_ = std::clamp(caret, 0, static_cast<int>(text_.size()));
    selLength_ = 0;
    if (changed)
        Change();
}

void TEdit::Change() {
    if (OnChange)
        OnChange(*this);
}

void TEdit::DoEnter() {
    if (autoSelect_)
        SelectAll();
    TWinControl::DoEnter();
}

void TEdit::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    SetSelStart(static_cast<int>(text_.size()));
    TWinControl::MouseDown(button, shift, x, y);
}

void TEdit::KeyDown(TKey& key, TShiftState shift) {
    TWinControl::KeyDown(key, shift);
    int length = static_cast<int>(text_.size());
    auto previous = [&](int pos) {
        do
            --pos;
        while (pos > 0 && IsUtf8Continuation(text_[static_cast<std::size_t>(pos)]));
        return std::max(pos, 0);
    };
    auto next = [&](int pos) {
        do
            ++pos;
        while (pos < length && IsUtf8Continuation(text_[static_cast<std::size_t>(pos)]));
        return std::min(pos, length);
    };
    switch (key) {
    case vkLeft:
        SetSelStart(selLength_ > 0 ? selStart_ : previous(selStart_));
        break;
    case vkRight:
        SetSelStart(selLength_ > 0 ? CaretPos() : next(selStart_));
        break;
    case vkHome:
        SetSelStart(0);
        break;
    case vkEnd:
        SetSelStart(length);
        break;
    case vkBack:
    case vkDelete:
        if (readOnly_)
            break;
        if (selLength_ == 0) {
            if (key == vkBack && selStart_ > 0) {
                int from = previous(selStart_);
                selLength_ = selStart_ - from;
                selStart_ = from;
            } else if (key == vkDelete && selStart_ < length) {
                selLength_ = next(selStart_) - selStart_;
            }
        }
        if (selLength_ > 0) {
            modified_ = true;
            SetSelText({});
        }
        break;
    default:
        return;
    }
    key = 0;
}

// ---- TSpeedButton -----------------------------------------------------------------------

TSpeedButton::TSpeedButton(std::string name) : TControl(std::move(name)) {}

void TSpeedButton::SetNumGlyphs(int count) noexcept {
    numGlyphs_ = std::clamp(count, 1, 4);
}

// ---- TMouse -----------------------------------------------------------------------------

void TMouse::MoveOver(TControl* control, TPoint pos) noexcept {
    hover_ = control;
    hoverPos_ = pos;
}

TWinControl* TMouse::WinControlUnderPointer() const noexcept {
    for (TControl* c = hover_; c; c = c->Parent())
        if (auto* windowed = dynamic_cast<TWinControl*>(c))
            return windowed;
    return nullptr;
}

TMouse& Mouse() {
    static TMouse mouse;
    return mouse;
}

} // namespace toolkit
