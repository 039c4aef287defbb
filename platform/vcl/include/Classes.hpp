// Components and their ownership, string lists and the event closures.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "SysUtils.hpp"

class TPersistent : public TObject {
 public:
  virtual void Assign(TPersistent* source);
};

class TComponent : public TPersistent {
 public:
  explicit __fastcall TComponent(TComponent* AOwner);
  // An owner frees what it owns, last created first.
  ~TComponent() override;

  AnsiString Name;
  int Tag = 0;
  VCL_READONLY(TComponent*, Owner, GetOwner);
  VCL_READONLY(int, ComponentCount, GetComponentCount);
  vcl::IndexedProperty<TComponent*> Components{[this](int i) { return GetComponent(i); }};

  TComponent* FindComponent(const AnsiString& name) const;
  // Runs the destruction handlers (a form's OnDestroy), then deletes.
  void Free();
  // Frees every owned component now, last created first.
  void DestroyComponents();
  // Called before the object is deleted by its owner or by Free().
  virtual void BeforeDestruction() {}

  TComponent* GetOwner() const { return owner_; }
  int GetComponentCount() const { return static_cast<int>(owned_.size()); }
  TComponent* GetComponent(int i) const;

 private:
  TComponent* owner_ = nullptr;
  std::vector<TComponent*> owned_;
};

namespace vcl {
// The innermost object of class C among a component and its owners: an
// event handler named as a member of the form binds to that form.
template <class C>
C* FindInOwnerChain(TComponent* c) {
  for (; c; c = c->GetOwner())
    if (C* hit = dynamic_cast<C*>(c)) return hit;
  return nullptr;
}
[[noreturn]] void ThrowUnboundHandler(TComponent* where);
}  // namespace vcl

// An event: empty, a callable, or a handler method of the form that owns the
// component (Button1->OnClick = &TForm1::Button1Click).
template <class Sig>
class TEvent;
template <class... A>
class TEvent<void(A...)> {
 public:
  using Function = std::function<void(A...)>;
  explicit TEvent(TComponent* component) : component_(component) {}
  TEvent(const TEvent&) = delete;

  TEvent& operator=(const TEvent& other) { fn_ = other.fn_; return *this; }
  TEvent& operator=(std::nullptr_t) { fn_ = nullptr; return *this; }
  TEvent& operator=(Function fn) { fn_ = std::move(fn); return *this; }
  template <class C>
  TEvent& operator=(void (C::*method)(A...)) {
    C* obj = vcl::FindInOwnerChain<C>(component_);
    if (!obj) vcl::ThrowUnboundHandler(component_);
    fn_ = [obj, method](A... args) { (obj->*method)(args...); };
    return *this;
  }
  explicit operator bool() const { return static_cast<bool>(fn_); }
  void operator()(A... args) const { if (fn_) fn_(args...); }
  const Function& function() const { return fn_; }

 private:
  TComponent* component_;
  Function fn_;
};

typedef TEvent<void(TObject*)> TNotifyEventProperty;
typedef std::function<void(TObject*)> TNotifyEvent;

enum TShiftStateElement { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
typedef Set<TShiftStateElement, ssShift, ssDouble> TShiftState;

// A list of 8-bit strings (memo lines, combo items ...). Text joins the lines,
// each followed by CR LF.
class TStrings : public TPersistent {
 public:
  TStrings() = default;

  VCL_READONLY(int, Count, GetCount);
  VCL_PROPERTY(AnsiString, Text, GetText, SetText);
  vcl::IndexedProperty<AnsiString> Strings{[this](int i) { return Get(i); },
                                           [this](int i, const AnsiString& s) { Put(i, s); }};
  AnsiString operator[](int i) const { return Get(i); }

  virtual int Add(const AnsiString& s);
  virtual void Insert(int index, const AnsiString& s) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;
  virtual AnsiString Get(int index) const = 0;
  virtual void Put(int index, const AnsiString& s);
  virtual int GetCount() const = 0;

  int IndexOf(const AnsiString& s) const;
  void AddStrings(TStrings* other);
  void Assign(TPersistent* source) override;
  void BeginUpdate() {}
  void EndUpdate() {}
  AnsiString GetText() const;
  void SetText(const AnsiString& text);
  // Writes Text to a file of the machine; raises EFCreateError when it can't
  // be created, EWriteError when it can't be written whole.
  void SaveToFile(const AnsiString& fileName) const;
  void LoadFromFile(const AnsiString& fileName);  // raises EFOpenError

  // Called after each change (owners keep their controls in step).
  std::function<void()> OnChanged;

 protected:
  void Changed() { if (OnChanged) OnChanged(); }
  void CheckIndex(int index, int count) const;
};

class TStringList : public TStrings {
 public:
  TStringList() = default;
  void Insert(int index, const AnsiString& s) override;
  void Delete(int index) override;
  void Clear() override;
  AnsiString Get(int index) const override;
  void Put(int index, const AnsiString& s) override;
  int GetCount() const override { return static_cast<int>(items_.size()); }

 private:
  std::vector<AnsiString> items_;
};
