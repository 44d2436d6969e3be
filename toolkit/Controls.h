#pragma once
// The widget model of the headless dialog toolkit: controls, windowed controls with children,
// forms with a modal loop, and the common controls. Nothing is drawn; input arrives through
// the virtual hooks below, delivered by the automation layer (toolkit/Agents.h) exactly as a
// screen would deliver it. UI thread only.
//
// Ownership: a windowed control owns its children (Add / InsertControl); a form owns every
// control on it. Raw pointers to controls stay valid until the control is removed or its
// parent destroyed.
#include "core/Exception.h"
#include "toolkit/Application.h"
#include "toolkit/Clock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace toolkit {

class TBitmap; // toolkit/Graphics.h
class TControl;

// A call that the control's state does not allow (focusing a hidden control, ...).
class EInvalidOperation : public stipplor::Exception {
public:
    using stipplor::Exception::Exception;
    const char* ClassName() const noexcept override { return "EInvalidOperation"; }
};

class TWinControl;
class TCustomForm;
class TButton;

// Colours: 0x00BBGGRR, or a system colour (top byte 0xFF, low byte the system index).
using TColor = std::uint32_t;
inline constexpr TColor clSystemColor = 0xFF000000u;
inline constexpr TColor clWindow = clSystemColor | 5u;
inline constexpr TColor clWindowText = clSystemColor | 8u;
inline constexpr TColor clBtnFace = clSystemColor | 15u;
inline constexpr TColor clGrayText = clSystemColor | 17u;
inline constexpr TColor clBtnText = clSystemColor | 18u;
inline constexpr TColor clBlack = 0x000000u;
inline constexpr TColor clMaroon = 0x000080u;
inline constexpr TColor clRed = 0x0000FFu;
inline constexpr TColor clGray = 0x808080u;
inline constexpr TColor clWhite = 0xFFFFFFu;
// Resolves a system colour to the toolkit's fixed scheme; other colours come back unchanged.
TColor ColorToRGB(TColor color) noexcept;

using TShiftState = unsigned;
inline constexpr TShiftState ssShift = 1u;
inline constexpr TShiftState ssAlt = 2u;
inline constexpr TShiftState ssCtrl = 4u;
inline constexpr TShiftState ssLeft = 8u;
inline constexpr TShiftState ssRight = 16u;
inline constexpr TShiftState ssMiddle = 32u;

// Virtual key codes (the values of the original platform, so hosts can pass them through).
using TKey = std::uint16_t;
inline constexpr TKey vkBack = 8;
inline constexpr TKey vkTab = 9;
inline constexpr TKey vkReturn = 13;
inline constexpr TKey vkEscape = 27;
inline constexpr TKey vkSpace = 32;
inline constexpr TKey vkEnd = 35;
inline constexpr TKey vkHome = 36;
inline constexpr TKey vkLeft = 37;
inline constexpr TKey vkUp = 38;
inline constexpr TKey vkRight = 39;
inline constexpr TKey vkDown = 40;
inline constexpr TKey vkDelete = 46;

enum class TMouseButton { Left, Right, Middle };

using TModalResult = int;
inline constexpr TModalResult mrNone = 0;
inline constexpr TModalResult mrOk = 1;
inline constexpr TModalResult mrCancel = 2;
inline constexpr TModalResult mrAbort = 3;
inline constexpr TModalResult mrRetry = 4;
inline constexpr TModalResult mrIgnore = 5;
inline constexpr TModalResult mrYes = 6;
inline constexpr TModalResult mrNo = 7;
inline constexpr TModalResult mrAll = 8;
inline constexpr TModalResult mrNoToAll = 9;
inline constexpr TModalResult mrYesToAll = 10;

enum class TAlignment { LeftJustify, RightJustify, Center };

struct TPoint {
    int X = 0;
    int Y = 0;
    friend bool operator==(TPoint, TPoint) = default;
};

struct TFont {
    int Height = 11; // pixels
    TColor Color = clWindowText;
};

// Width in pixels of `text` in a font `fontHeight` pixels high, by the toolkit's fixed metric:
// every character has an advance in twentieths of the font height (narrow i j l I . , : ; ! |
// ' 5; f t r space ( ) [ ] - " 7; m w M W 16; other capitals 13; digits 11; other lower-case
// letters 10; everything else, each non-ASCII character included, 11). The sum times
// |fontHeight| / 20 is rounded half to even. Text is UTF-8.
int TextWidth(std::string_view text, int fontHeight);
// A caption as shown: "&" marks the next character as the accelerator and is dropped, "&&"
// shows one "&".
std::string StripAccelerator(std::string_view caption);

using TNotifyEvent = std::function<void(TControl& sender)>;
using TMouseEvent = std::function<void(TControl& sender, TMouseButton, TShiftState, int x, int y)>;
using TKeyEvent = std::function<void(TControl& sender, TKey& key, TShiftState)>;
using TMouseWheelEvent = std::function<void(TControl& sender, TShiftState, int wheelDelta,
                                            TPoint mousePos, bool& handled)>;

class TControl {
public:
    explicit TControl(std::string name = {});
    virtual ~TControl();
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    virtual const char* ClassName() const noexcept { return "TControl"; }
    const std::string& Name() const noexcept { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    TWinControl* Parent() const noexcept { return parent_; }
    // The form the control sits on (the form itself for a form), or none.
    TCustomForm* Form() const noexcept;

    int Left() const noexcept { return left_; }
    int Top() const noexcept { return top_; }
    int Width() const noexcept { return width_; }
    int Height() const noexcept { return height_; }
    virtual void SetBounds(int left, int top, int width, int height);
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    virtual int ClientWidth() const noexcept { return width_; }
    virtual int ClientHeight() const noexcept { return height_; }
    // Position of the control's client point `p` in its form's client area.
    TPoint ClientToForm(TPoint p) const noexcept;

    const std::string& Caption() const noexcept { return caption_; }
    virtual void SetCaption(std::string caption);
    TFont& Font() noexcept { return font_; }
    const TFont& Font() const noexcept { return font_; }
    int Tag() const noexcept { return tag_; }
    void SetTag(int tag) noexcept { tag_ = tag; }

    bool Enabled() const noexcept { return enabled_; }
    void SetEnabled(bool enabled);
    bool Visible() const noexcept { return visible_; }
    void SetVisible(bool visible);
    // Enabled, and every parent too: only then does the control take input.
    bool IsEnabled() const noexcept;
    // Visible, every parent too, and the form shown.
    bool Showing() const noexcept;
    // True while the control holds the mouse (between a press on it and the release).
    bool MouseCapture() const noexcept;
    // True between a press of the left button on the enabled control and the release (or
    // the loss of the capture); the release then clicks it.
    bool ClickPending() const noexcept { return clickPending_; }

    // Input hooks. Overrides call the base to keep the events and the default behaviour: a
    // left press and release on the control make a click (Clicked).
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    // Raises OnClick (and whatever the control's click means, such as a modal result).
    virtual void Click();
    // The wheel turned (delta +120 per forward notch) while the control had it; mousePos is
    // the pointer in the form's client area. True when handled. The default offers it to
    // OnMouseWheel, then to the parent, up to the form (whose OnMouseWheel is form-wide).
    virtual bool DoMouseWheel(TShiftState shift, int wheelDelta, TPoint mousePos);
    // Keyboard hook; only the focused windowed control receives keys. Setting key to 0
    // swallows it; otherwise the form's DialogKey sees it next. Text arrives by typing
    // (TEdit::SetSelText), not key by key.
    virtual void KeyDown(TKey& key, TShiftState shift);
    virtual void DoEnter();
    virtual void DoExit();
    // The mouse capture was taken away (the control was disabled or hidden while pressed).
    virtual void CancelMode() {}

    // What a value field shows to automation as its value.
    virtual std::optional<std::string> AutomationValue() const { return std::nullopt; }

    TNotifyEvent OnClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseWheelEvent OnMouseWheel;
    TKeyEvent OnKeyDown;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;

protected:
    virtual void EnabledChanged() {}
    virtual void VisibleChanged() {}
    // What the user's click does; by default Click. A check box toggles instead.
    virtual void Clicked() { Click(); }

private:
    friend class TWinControl;
    friend class TCustomForm;
    void LoseInput(bool dying = false) noexcept;

    std::string name_;
    std::string caption_;
    TWinControl* parent_ = nullptr;
    bool isForm_ = false;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    TFont font_;
    int tag_ = 0;
    bool enabled_ = true;
    bool visible_ = true;
    bool clickPending_ = false;
};

class TWinControl : public TControl {
public:
    explicit TWinControl(std::string name = {});
    ~TWinControl() override;

    const char* ClassName() const noexcept override { return "TWinControl"; }

    // Creates a child owned by this control and returns it.
    template <class T, class... Args> T& Add(Args&&... args) {
        auto child = std::make_unique<T>(std::forward<Args>(args)...);
        T& result = *child;
        InsertControl(std::move(child));
        return result;
    }
    TControl& InsertControl(std::unique_ptr<TControl> child);
    // Hands a child back to the caller (who may destroy it); null when it is not a child.
    std::unique_ptr<TControl> RemoveControl(TControl& child);
    std::size_t ControlCount() const noexcept { return children_.size(); }
    TControl& Controls(std::size_t index) const { return *children_.at(index); }
    // The first control of this name at any depth below, or none. "Outer.Inner" looks for
    // Inner below Outer, for names that repeat (the arrows of every spin button).
    TControl* FindControl(std::string_view name) const noexcept;
    // Every control below, depth first in creation order.
    std::vector<TControl*> AllControls() const;

    bool TabStop() const noexcept { return tabStop_; }
    void SetTabStop(bool tabStop) noexcept { tabStop_ = tabStop; }
    // Visible and enabled up to the form (the form need not be shown yet).
    virtual bool CanFocus() const noexcept;
    bool Focused() const noexcept;
    // Makes this the form's active control (exit, then enter events). Raises
    // EInvalidOperation "Cannot focus a disabled or invisible window" when it cannot focus.
    void SetFocus();

    // The window's life: CreateWnd runs when the form is first shown (or at once when the
    // control joins a parent whose window exists); RecreateWnd runs DestroyWnd, then
    // CreateWnd again.
    bool HandleAllocated() const noexcept { return handleAllocated_; }
    void HandleNeeded();
    void RecreateWnd();

protected:
    virtual void CreateWnd() {}
    virtual void DestroyWnd() {}
    void DestroyChildren() noexcept;

private:
    friend class TControl;
    friend class TCustomForm;
    void CreateHandles();

    std::vector<std::unique_ptr<TControl>> children_;
    bool tabStop_ = false;
    bool handleAllocated_ = false;
};

enum class TPosition { Designed, ScreenCenter };

class TCustomForm : public TWinControl {
public:
    explicit TCustomForm(std::string name = {});
    ~TCustomForm() override;

    const char* ClassName() const noexcept override { return "TCustomForm"; }

    // The window frame around the client area.
    static constexpr int FrameWidth = 3;
    static constexpr int CaptionHeight = 22;
    void SetClientSize(int width, int height);
    int ClientWidth() const noexcept override;
    int ClientHeight() const noexcept override;
    TPosition Position() const noexcept { return position_; }
    void SetPosition(TPosition position) noexcept { position_ = position; }

    TWinControl* ActiveControl() const noexcept { return activeControl_; }
    // Same as control.SetFocus(); null removes the focus (with an exit event).
    void SetActiveControl(TWinControl* control);

    TModalResult ModalResult() const noexcept { return modalResult_; }
    void SetModalResult(TModalResult result) noexcept { modalResult_ = result; }
    // Shows the form modally and returns its modal result once it closes: the form agent
    // (toolkit/Agents.h) acts as the user; without one, or when the agent leaves the form
    // open, it closes with mrCancel. Raises EInvalidOperation "Cannot make a visible window
    // modal" when the form is shown already or disabled.
    TModalResult ShowModal();
    // True inside ShowModal.
    bool Modal() const noexcept { return modal_; }
    // Open (no modal result yet) and the topmost modal window: user input reaches it.
    bool AcceptsInput() const noexcept;
    // Asks the form to close: a modal form gets mrCancel.
    void Close();

    // The enabled, visible Default (or Cancel) button, if any.
    TButton* DefaultButton() const noexcept;
    TButton* CancelButton() const noexcept;
    // The form's own handling of a key no control swallowed: Tab and Shift+Tab move the
    // focus, Enter clicks the default button (a focused button takes Enter itself), Escape the
    // cancel button. True when the key was used.
    bool DialogKey(TKey key, TShiftState shift);
    // Focuses the next (or previous) tab stop after the active control.
    bool SelectNext(bool forward);

    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    std::function<void(TCustomForm& sender, bool& canClose)> OnCloseQuery;

    // After each piece of user input: a set modal result closes the form unless
    // OnCloseQuery refuses (then the result goes back to mrNone). True when it closed.
    bool CheckModalEnd();

private:
    friend class TControl;
    void ControlGone(TControl& control) noexcept;
    void FocusFirst();
    void PlaceOnScreen();

    TPosition position_ = TPosition::Designed;
    TWinControl* activeControl_ = nullptr;
    TModalResult modalResult_ = mrNone;
    bool modal_ = false;
    bool open_ = false;
};

class TForm : public TCustomForm {
public:
    using TCustomForm::TCustomForm;
    const char* ClassName() const noexcept override { return "TForm"; }
};

class TGroupBox : public TWinControl {
public:
    using TWinControl::TWinControl;
    const char* ClassName() const noexcept override { return "TGroupBox"; }
    // A frame with a caption: it groups controls but never takes the focus itself.
    bool CanFocus() const noexcept override { return false; }
};

class TLabel : public TControl {
public:
    using TControl::TControl;
    const char* ClassName() const noexcept override { return "TLabel"; }
};

class TButton : public TWinControl {
public:
    explicit TButton(std::string name = {});
    const char* ClassName() const noexcept override { return "TButton"; }
    bool Default() const noexcept { return default_; }
    void SetDefault(bool value) noexcept { default_ = value; }
    bool Cancel() const noexcept { return cancel_; }
    void SetCancel(bool value) noexcept { cancel_ = value; }
    TModalResult ModalResult() const noexcept { return modalResult_; }
    void SetModalResult(TModalResult result) noexcept { modalResult_ = result; }

    // Gives the form the button's modal result (when it has one), then raises OnClick.
    void Click() override;
    // Space and Enter click it.
    void KeyDown(TKey& key, TShiftState shift) override;

private:
    bool default_ = false;
    bool cancel_ = false;
    TModalResult modalResult_ = mrNone;
};

class TCheckBox : public TWinControl {
public:
    explicit TCheckBox(std::string name = {});
    const char* ClassName() const noexcept override { return "TCheckBox"; }
    bool Checked() const noexcept { return checked_; }
    // Raises OnClick when the state changes, as a user's click does.
    void SetChecked(bool checked);
    // Space toggles it, as a click does.
    void KeyDown(TKey& key, TShiftState shift) override;

protected:
    void Clicked() override { SetChecked(!checked_); }

private:
    bool checked_ = false;
};

class TRadioButton : public TWinControl {
public:
    explicit TRadioButton(std::string name = {});
    const char* ClassName() const noexcept override { return "TRadioButton"; }
    bool Checked() const noexcept { return checked_; }
    // Checking unchecks the radio buttons beside it (same parent) and raises OnClick;
    // unchecking raises nothing, as no user's click can do it.
    void SetChecked(bool checked);
    // Space checks it, as a click does.
    void KeyDown(TKey& key, TShiftState shift) override;

protected:
    void Clicked() override { SetChecked(true); }

private:
    bool checked_ = false;
};

class TRadioGroup : public TWinControl {
public:
    explicit TRadioGroup(std::string name = {});
    const char* ClassName() const noexcept override { return "TRadioGroup"; }
    const std::vector<std::string>& Items() const noexcept { return items_; }
    // The item index stays when still inside the new items, else it is clamped silently.
    void SetItems(std::vector<std::string> items);
    int Columns() const noexcept { return columns_; }
    void SetColumns(int columns) noexcept { columns_ = columns < 1 ? 1 : columns; }
    int ItemIndex() const noexcept { return itemIndex_; }
    // Clamped to -1 (none) .. last item; raises OnClick when the index changes.
    void SetItemIndex(int index);
    bool CanFocus() const noexcept override;
    // Up/Left and Down/Right choose the previous and next item.
    void KeyDown(TKey& key, TShiftState shift) override;

private:
    std::vector<std::string> items_;
    int columns_ = 1;
    int itemIndex_ = -1;
};

enum class TBorderStyle { None, Single };

class TEdit : public TWinControl {
public:
    explicit TEdit(std::string name = {});
    const char* ClassName() const noexcept override { return "TEdit"; }

    const std::string& Text() const noexcept { return text_; }
    // Replaces the text; raises OnChange (through Change) when it differs. The caret goes to
    // the start, as for a window's new text.
    void SetText(std::string text);
    TAlignment Alignment() const noexcept { return alignment_; }
    virtual void SetAlignment(TAlignment alignment) { alignment_ = alignment; }
    bool AutoSelect() const noexcept { return autoSelect_; }
    void SetAutoSelect(bool value) noexcept { autoSelect_ = value; }
    bool ReadOnly() const noexcept { return readOnly_; }
    void SetReadOnly(bool value) noexcept { readOnly_ = value; }
    bool Modified() const noexcept { return modified_; }
    void SetModified(bool value) noexcept { modified_ = value; }
    TBorderStyle BorderStyle() const noexcept { return borderStyle_; }
    void SetBorderStyle(TBorderStyle style) noexcept { borderStyle_ = style; }
    bool Ctl3D() const noexcept { return ctl3D_; }
    void SetCtl3D(bool value) noexcept { ctl3D_ = value; }
    int ClientWidth() const noexcept override;
    int ClientHeight() const noexcept override;

    // Selection and caret, in bytes of the text; the caret sits at the selection's end.
    int SelStart() const noexcept { return selStart_; }
    int SelLength() const noexcept { return selLength_; }
    void SetSelStart(int start) noexcept; // collapses the selection there
    void SetSelLength(int length) noexcept;
    void SelectAll() noexcept;
    std::string SelText() const;
    // Replaces the selection as typing or pasting does (only the first line of `text`),
    // leaves the caret after it and raises OnChange when the text changed.
    void SetSelText(std::string_view text);
    int CaretPos() const noexcept { return selStart_ + selLength_; }
    void SetCaretPos(int pos) noexcept { SetSelStart(pos); }

    TNotifyEvent OnChange;

    // Selects all when AutoSelect is on.
    void DoEnter() override;
    // A click leaves the caret at the end of the text (nothing is drawn to aim at).
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    // Backspace and Delete edit; Left, Right, Home and End move the caret.
    void KeyDown(TKey& key, TShiftState shift) override;

protected:
    // Every change of the text, by code or user, passes here; the base raises OnChange.
    virtual void Change();

private:
    void ReplaceText(std::string text, int caret);
    int BorderSize() const noexcept;

    std::string text_;
    TAlignment alignment_ = TAlignment::LeftJustify;
    bool autoSelect_ = true;
    bool readOnly_ = false;
    bool modified_ = false;
    TBorderStyle borderStyle_ = TBorderStyle::Single;
    bool ctl3D_ = true;
    int selStart_ = 0;
    int selLength_ = 0;
};

// A flat button drawn with a glyph; it never takes the focus.
class TSpeedButton : public TControl {
public:
    explicit TSpeedButton(std::string name = {});
    const char* ClassName() const noexcept override { return "TSpeedButton"; }

    // Shared, not copied: whoever changes the bitmap later changes the button's picture.
    const std::shared_ptr<TBitmap>& Glyph() const noexcept { return glyph_; }
    void SetGlyph(std::shared_ptr<TBitmap> glyph) { glyph_ = std::move(glyph); }
    // Images side by side in the glyph: normal, disabled, pressed, down (1 to 4).
    int NumGlyphs() const noexcept { return numGlyphs_; }
    void SetNumGlyphs(int count) noexcept;
    // Shown down: between a press with the left button and its release (which clicks it)
    // or the loss of the capture.
    bool Pressed() const noexcept { return ClickPending(); }

private:
    std::shared_ptr<TBitmap> glyph_;
    int numGlyphs_ = 1;
};

// The pointer and the mouse capture.
class TMouse {
public:
    // The control the pointer is over, and its position in that control's client area.
    TControl* HoverControl() const noexcept { return hover_; }
    TPoint HoverPos() const noexcept { return hoverPos_; }
    void MoveOver(TControl* control, TPoint pos) noexcept;
    // The innermost windowed control under the pointer.
    TWinControl* WinControlUnderPointer() const noexcept;
    TControl* Capture() const noexcept { return capture_; }
    void SetCapture(TControl* control) noexcept { capture_ = control; }

private:
    friend class TControl;
    TControl* hover_ = nullptr;
    TPoint hoverPos_;
    TControl* capture_ = nullptr;
};

TMouse& Mouse();

} // namespace toolkit
