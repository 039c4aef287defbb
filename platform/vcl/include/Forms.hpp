// Forms, the application object with its message loop, and the screen.
#pragma once

#include <vector>

#include "Controls.hpp"

enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TBorderIcon { biSystemMenu, biMinimize, biMaximize, biHelp };
typedef Set<TBorderIcon, biSystemMenu, biHelp> TBorderIcons;
enum TPosition { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter,
                 poDesktopCenter, poMainFormCenter, poOwnerFormCenter };

typedef TEvent<void(TObject*, TCloseAction&)> TCloseEvent;
typedef TEvent<void(TObject*, bool&)> TCloseQueryEvent;

class TButton;

class TCustomForm : public TWinControl {
 public:
  explicit __fastcall TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;

  VCL_PROPERTY(TFormBorderStyle, BorderStyle, GetBorderStyle, SetBorderStyle);
  TBorderIcons BorderIcons = TBorderIcons() << biSystemMenu << biMinimize << biMaximize;
  TPosition Position = poDesigned;
  bool Scaled = true;
  int PixelsPerInch = 96;
  bool KeyPreview = false;
  TWinControl* ActiveControl = nullptr;
  VCL_PROPERTY(TModalResult, ModalResult, GetModalResult, SetModalResult);

  TNotifyEventProperty OnCreate{this};
  TNotifyEventProperty OnShow{this};
  TNotifyEventProperty OnHide{this};
  TNotifyEventProperty OnResize{this};
  TNotifyEventProperty OnDestroy{this};
  TCloseEvent OnClose{this};
  TCloseQueryEvent OnCloseQuery{this};

  // Runs OnCreate; Application->CreateForm calls it once the form's own
  // constructor has set the design values.
  virtual void AfterConstruction();
  void BeforeDestruction() override;

  void SetVisible(const bool& v) override;
  void Close();
  // Shows the form and runs the message loop until a modal result is set.
  virtual int ShowModal();
  // Frees the form once the current event has been handled.
  void Release();
  void BringToFront() override;
  bool Modal() const { return modal_; }

  // The user presses a key while this form is active.
  void PressKey(char key);
  // The default (Enter) and cancel (Esc) buttons among the form's controls.
  TButton* DefaultButton() const;
  TButton* CancelButton() const;

  TFormBorderStyle GetBorderStyle() const { return borderStyle_; }
  void SetBorderStyle(const TFormBorderStyle& b);
  TModalResult GetModalResult() const { return modalResult_; }
  void SetModalResult(const TModalResult& r) { modalResult_ = r; }
  void GetFrame(int& left, int& top, int& right, int& bottom) const override;

 protected:
  void BoundsChanged(bool resized) override;

 private:
  bool CloseQuery();
  void CloseModal();
  void FireShow();

  TFormBorderStyle borderStyle_ = bsSizeable;
  TModalResult modalResult_ = mrNone;
  bool modal_ = false;
  bool handleCreated_ = false;
  bool created_ = false;
  bool destroying_ = false;
};

class TForm : public TCustomForm {
 public:
  explicit __fastcall TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
};

typedef TEvent<void(TObject*, Exception*)> TExceptionEvent;

class TApplication : public TComponent {
 public:
  explicit __fastcall TApplication(TComponent* AOwner);
  ~TApplication() override;

  AnsiString Title;
  bool ShowMainForm = true;
  VCL_READONLY(TForm*, MainForm, GetMainForm);
  VCL_READONLY(bool, Terminated, GetTerminated);
  VCL_READONLY(AnsiString, ExeName, GetExeName);
  TExceptionEvent OnException{this};

  void Initialize();
  // Frees the forms, last created first (see vcl::BeforeFormsDestroyed).
  void DestroyComponents();
  template <class T>
  void CreateForm(vcl::ClassRef<T>, T** reference) {
    T* form = new T(this);
    if (reference) *reference = form;
    if (!mainForm_) mainForm_ = form;
    form->AfterConstruction();
  }
  // Shows the main form and runs the message loop until the main form
  // closes, Terminate is called, or the input script is exhausted.
  void Run();
  void Terminate() { terminated_ = true; }
  // Runs the input and the timers that are due now, then returns.
  void ProcessMessages();
  // One step of the loop: input or a due timer, else the input source's next
  // action, else (virtual clock) time moves on to the next timer.
  // False when nothing can ever happen any more.
  bool HandleMessage();
  void HandleException(TObject* sender);
  void ShowException(Exception* e);
  int MessageBox(const char* text, const char* caption, int flags = MB_OK);

  TForm* GetMainForm() const { return mainForm_; }
  bool GetTerminated() const { return terminated_; }
  AnsiString GetExeName() const;
  // A form is being destroyed (the main form is forgotten).
  void FormDestroyed(TCustomForm* form);
  // Why the last Run ended: "main form closed", "terminated" or "script exhausted".
  const char* RunEndReason() const { return runEnd_; }

 private:
  TForm* mainForm_ = nullptr;
  bool terminated_ = false;
  const char* runEnd_ = "";
};

class TScreen : public TComponent {
 public:
  explicit __fastcall TScreen(TComponent* AOwner) : TComponent(AOwner) {}

  VCL_READONLY(int, Width, GetWidth);
  VCL_READONLY(int, Height, GetHeight);
  TCursor Cursor = crDefault;
  int PixelsPerInch = 96;
  VCL_READONLY(int, FormCount, GetFormCount);
  vcl::IndexedProperty<TCustomForm*> Forms{[this](int i) { return GetForm(i); }};
  VCL_READONLY(TCustomForm*, ActiveForm, GetActiveForm);

  int GetWidth() const;
  int GetHeight() const;
  int GetFormCount() const;
  TCustomForm* GetForm(int i) const;
  // The modal form on top, else the front-most visible form.
  TCustomForm* GetActiveForm() const;
};

extern TApplication* Application;
extern TScreen* Screen;
