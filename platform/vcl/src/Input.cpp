#include "vqvcl/Input.h"

#include <algorithm>

#include "ComCtrls.hpp"
#include "Internal.h"
#include "vqvcl/Loop.h"

namespace vcl {

namespace {

TComponent* FindIn(TComponent* root, const std::string& name) {
  const AnsiString want = AnsiString(name).UpperCase();
  if (root->Name.UpperCase() == want) return root;
  for (int i = 0; i < root->GetComponentCount(); ++i)
    if (TComponent* hit = FindIn(root->GetComponent(i), name)) return hit;
  return nullptr;
}

// Input reaches a control only when it is shown, enabled and not behind a
// modal form.
std::string Reachable(TControl* c) {
  if (!c) return "no such control";
  if (!c->Showing()) return c->Name.str() + " is not visible";
  if (!c->EffectivelyEnabled()) return c->Name.str() + " is disabled";
  const auto& modals = detail::ModalStack();
  if (!modals.empty() && c->ParentForm() != modals.back())
    return c->Name.str() + " is behind the modal form " + modals.back()->Name.str();
  return std::string();
}

}  // namespace

TComponent* FindByName(const std::string& name) {
  const auto& forms = detail::FormsZOrder();
  const size_t dot = name.find('.');
  if (dot != std::string::npos) {
    const AnsiString formName = AnsiString(name.substr(0, dot)).UpperCase();
    for (TCustomForm* f : forms)
      if (f->Name.UpperCase() == formName) return FindIn(f, name.substr(dot + 1));
    return nullptr;
  }
  const auto& modals = detail::ModalStack();
  if (!modals.empty())
    if (TComponent* hit = FindIn(modals.back(), name)) return hit;
  for (auto it = forms.rbegin(); it != forms.rend(); ++it)
    if (TComponent* hit = FindIn(*it, name)) return hit;
  return nullptr;
}

std::string UserClick(TControl* control) {
  if (std::string why = Reachable(control); !why.empty()) return why;
  Dispatch([control] {
    if (auto* w = dynamic_cast<TWinControl*>(control); w && w->TabStop && w->CanFocus())
      if (TCustomForm* f = control->ParentForm(); f && f != control) f->ActiveControl = w;
    control->Click();
  });
  return std::string();
}

std::string UserSelect(TControl* control, int index) {
  if (std::string why = Reachable(control); !why.empty()) return why;
  if (auto* combo = dynamic_cast<TComboBox*>(control)) {
    if (index < 0 || index >= combo->Items->GetCount()) return "no item " + std::to_string(index);
    Dispatch([combo, index] {
      combo->SetItemIndex(index);
      combo->OnClick(combo);
      combo->OnChange(combo);
    });
    return std::string();
  }
  if (auto* group = dynamic_cast<TRadioGroup*>(control)) {
    if (index < 0 || index >= group->Items->GetCount()) return "no item " + std::to_string(index);
    Dispatch([group, index] {
      group->SetItemIndex(index);
      group->OnClick(group);
    });
    return std::string();
  }
  if (auto* list = dynamic_cast<TListView*>(control)) {
    if (index < 0 || index >= list->Items->GetCount()) return "no row " + std::to_string(index);
    Dispatch([list, index] {
      for (int i = 0; i < list->Items->GetCount(); ++i) list->Items->Get(i)->Selected = i == index;
      list->Items->Get(index)->Focused = true;
      list->Items->Get(index)->MakeVisible(false);
      list->OnClick(list);
    });
    return std::string();
  }
  return control->Name.str() + " has no items to choose from";
}

std::string UserType(TControl* control, const std::string& text) {
  if (std::string why = Reachable(control); !why.empty()) return why;
  const AnsiString ansi(detail::Utf8ToAnsi(text));
  if (auto* edit = dynamic_cast<TEdit*>(control)) {
    if (edit->ReadOnly) return edit->Name.str() + " is read-only";
    Dispatch([edit, ansi] { edit->SetText(ansi); });
    return std::string();
  }
  if (auto* combo = dynamic_cast<TComboBox*>(control)) {
    if (combo->Style == csDropDownList) return combo->Name.str() + " takes no typing";
    Dispatch([combo, ansi] {
      const bool changed = !(combo->GetText() == ansi);
      combo->SetText(ansi);
      if (changed) combo->OnChange(combo);
    });
    return std::string();
  }
  return control->Name.str() + " takes no text";
}

std::string UserKey(TControl* control, char key) {
  auto* form = dynamic_cast<TCustomForm*>(control);
  if (!form && control) {
    if (std::string why = Reachable(control); !why.empty()) return why;
    auto* w = dynamic_cast<TWinControl*>(control);
    if (!w) return control->Name.str() + " takes no keys";
    form = control->ParentForm();
    if (form) form->ActiveControl = w;
  }
  if (!form) return "no such form";
  if (!form->Visible) return form->Name.str() + " is not visible";
  const auto& modals = detail::ModalStack();
  if (!modals.empty() && form != modals.back())
    return form->Name.str() + " is behind the modal form " + modals.back()->Name.str();
  Dispatch([form, key] { form->PressKey(key); });
  return std::string();
}

std::string UserHover(TControl* control) {
  if (!control) return "no such control";
  if (!control->Showing()) return control->Name.str() + " is not visible";
  Dispatch([control] { control->OnMouseMove(control, TShiftState(), control->Width / 2, control->Height / 2); });
  return std::string();
}

std::string UserClose(TCustomForm* form) {
  if (!form) return "no such form";
  if (!form->Visible) return form->Name.str() + " is not visible";
  const auto& modals = detail::ModalStack();
  if (!modals.empty() && form != modals.back())
    return form->Name.str() + " is behind the modal form " + modals.back()->Name.str();
  if (!form->BorderIcons.Contains(biSystemMenu)) return form->Name.str() + " has no close box";
  Dispatch([form] { form->Close(); });
  return std::string();
}

}  // namespace vcl
