// Controls: position, size, alignment inside the parent, visibility, text,
// font, focus and the input events.
#pragma once

#include <vector>

#include "Graphics.hpp"

typedef short TCursor;
constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crHandPoint = -21;

typedef int TModalResult;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = IDOK;
constexpr TModalResult mrCancel = IDCANCEL;
constexpr TModalResult mrAbort = IDABORT;
constexpr TModalResult mrRetry = IDRETRY;
constexpr TModalResult mrIgnore = IDIGNORE;
constexpr TModalResult mrYes = IDYES;
constexpr TModalResult mrNo = IDNO;
constexpr TModalResult mrAll = 8;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
typedef TFormBorderStyle TBorderStyle;
enum TImeMode { imDisable, imClose, imOpen, imDontCare, imSAlpha, imAlpha, imHira, imSKata, imKata,
                imChinese, imSHanguel, imHanguel };

typedef TEvent<void(TObject*, char&)> TKeyPressEvent;
typedef TEvent<void(TObject*, TShiftState, int, int)> TMouseMoveEvent;

class TWinControl;
class TCustomForm;

class TControl : public TComponent {
 public:
  explicit __fastcall TControl(TComponent* AOwner);
  ~TControl() override;

  VCL_PROPERTY(TWinControl*, Parent, GetParent, SetParent);
  VCL_PROPERTY(int, Left, GetLeft, SetLeft);
  VCL_PROPERTY(int, Top, GetTop, SetTop);
  VCL_PROPERTY(int, Width, GetWidth, SetWidth);
  VCL_PROPERTY(int, Height, GetHeight, SetHeight);
  VCL_PROPERTY(int, ClientWidth, GetClientWidth, SetClientWidth);
  VCL_PROPERTY(int, ClientHeight, GetClientHeight, SetClientHeight);
  VCL_PROPERTY(TAlign, Align, GetAlign, SetAlign);
  VCL_PROPERTY(bool, Visible, GetVisible, SetVisible);
  VCL_PROPERTY(bool, Enabled, GetEnabled, SetEnabled);
  // Caption and Text are one text, as the window text is.
  VCL_PROPERTY(AnsiString, Caption, GetText, SetText);
  VCL_PROPERTY(AnsiString, Text, GetText, SetText);
  TFont* Font;
  VCL_PROPERTY(bool, ParentFont, GetParentFont, SetParentFont);
  TColor Color = clBtnFace;
  AnsiString Hint;
  bool ShowHint = false;
  TCursor Cursor = crDefault;

  TNotifyEventProperty OnClick{this};
  TMouseMoveEvent OnMouseMove{this};

  void SetBounds(int left, int top, int width, int height);
  virtual void Show() { SetVisible(true); }
  virtual void Hide() { SetVisible(false); }
  void Repaint() { ++paintCount_; }
  void Refresh() { Repaint(); }
  void Invalidate() { ++paintCount_; }
  void Update() {}
  virtual void BringToFront();
  void SendToBack();
  // Sends a window message to the control (EM_SCROLLCARET ...).
  LRESULT Perform(UINT msg, WPARAM wParam, LPARAM lParam);

  // A click by the user (or by Click() from code): the control's own
  // reaction, then OnClick.
  virtual void Click();
  // True when the control and all its parents are visible (the form too).
  bool Showing() const;
  // True when the control and all its parents are enabled.
  bool EffectivelyEnabled() const;
  TCustomForm* ParentForm() const;
  int PaintCount() const { return paintCount_; }
  TRect ClientRect() const { return Rect(0, 0, GetClientWidth(), GetClientHeight()); }

  TWinControl* GetParent() const { return parent_; }
  virtual void SetParent(TWinControl* const& p);
  int GetLeft() const { return left_; }
  void SetLeft(const int& v) { SetBounds(v, top_, width_, height_); }
  int GetTop() const { return top_; }
  void SetTop(const int& v) { SetBounds(left_, v, width_, height_); }
  int GetWidth() const { return width_; }
  void SetWidth(const int& v) { SetBounds(left_, top_, v, height_); }
  int GetHeight() const { return height_; }
  void SetHeight(const int& v) { SetBounds(left_, top_, width_, v); }
  int GetClientWidth() const;
  void SetClientWidth(const int& v);
  int GetClientHeight() const;
  void SetClientHeight(const int& v);
  TAlign GetAlign() const { return align_; }
  void SetAlign(const TAlign& a);
  bool GetVisible() const { return visible_; }
  virtual void SetVisible(const bool& v);
  bool GetEnabled() const { return enabled_; }
  virtual void SetEnabled(const bool& v) { enabled_ = v; }
  virtual AnsiString GetText() const { return text_; }
  virtual void SetText(const AnsiString& t);
  bool GetParentFont() const { return parentFont_; }
  void SetParentFont(const bool& v);

  // Non-client widths (borders, a form's caption bar) on each side.
  virtual void GetFrame(int& left, int& top, int& right, int& bottom) const;
  // The framework's messages that a control answers.
  virtual LRESULT Dispatch(UINT msg, WPARAM wParam, LPARAM lParam);
  // Called by the parent when its font changes (ParentFont).
  void ParentFontChanged();

 protected:
  friend class TWinControl;
  virtual void TextChanged() {}
  // After a move or resize (`resized`: the size changed).
  virtual void BoundsChanged(bool resized) { (void)resized; }
  // After the font changed (an auto-sized label measures again).
  virtual void FontUpdated() {}
  void FontChanged();

  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TAlign align_ = alNone;
  bool visible_ = true;
  bool enabled_ = true;
  bool parentFont_ = true;
  bool inFontCopy_ = false;
  AnsiString text_;
  int paintCount_ = 0;
};

class TWinControl : public TControl {
 public:
  explicit __fastcall TWinControl(TComponent* AOwner);
  ~TWinControl() override;

  VCL_READONLY(int, ControlCount, GetControlCount);
  vcl::IndexedProperty<TControl*> Controls{[this](int i) { return GetControl(i); }};
  int TabOrder = -1;
  bool TabStop = false;
  TKeyPressEvent OnKeyPress{this};
  // The window handle (owner of message boxes): stands for the control.
  VCL_READONLY(HWND, Handle, GetHandle);
  HWND GetHandle() const { return reinterpret_cast<HWND>(const_cast<TWinControl*>(this)); }

  void SetFocus();
  bool Focused() const;
  bool CanFocus() const;
  // Puts the aligned children back into the client area.
  void Realign();

  int GetControlCount() const { return static_cast<int>(children_.size()); }
  TControl* GetControl(int i) const;
  const std::vector<TControl*>& Children() const { return children_; }
  // The area aligned children share, in client coordinates.
  virtual TRect AlignRect() const { return ClientRect(); }
  // Keys a focused control takes itself instead of the form's default and
  // cancel buttons (a multi-line edit takes Enter and Esc).
  virtual bool WantsKey(char key) const;
  // The user types a character while the control has the focus.
  virtual void KeyPress(char& key);

  // Parent bookkeeping (called by TControl::SetParent).
  void InsertChild(TControl* c);
  void RemoveChild(TControl* c);
  void RaiseChild(TControl* c, bool toFront);

 protected:
  void BoundsChanged(bool resized) override;

 private:
  std::vector<TControl*> children_;
  bool aligning_ = false;
};

class TGraphicControl : public TControl {
 public:
  using TControl::TControl;
};

class TCustomControl : public TWinControl {
 public:
  using TWinControl::TWinControl;
};
