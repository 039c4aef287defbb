#include "Classes.hpp"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

void TPersistent::Assign(TPersistent* source) {
  throw EConvertError("Cannot assign a " + (source ? source->ClassName() : AnsiString("nil")) +
                      " to a " + ClassName());
}

TComponent::TComponent(TComponent* AOwner) : owner_(AOwner) {
  if (owner_) owner_->owned_.push_back(this);
}

TComponent::~TComponent() {
  DestroyComponents();
  if (owner_) {
    auto& v = owner_->owned_;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
}

void TComponent::DestroyComponents() {
  while (!owned_.empty()) {
    TComponent* c = owned_.back();
    c->BeforeDestruction();
    delete c;  // removes itself from owned_
  }
}

TComponent* TComponent::GetComponent(int i) const {
  if (i < 0 || i >= GetComponentCount()) throw EListError("List index out of bounds (" + AnsiString(i) + ")");
  return owned_[static_cast<size_t>(i)];
}

TComponent* TComponent::FindComponent(const AnsiString& name) const {
  const AnsiString up = name.UpperCase();
  for (TComponent* c : owned_)
    if (c->Name.UpperCase() == up) return c;
  return nullptr;
}

void TComponent::Free() {
  BeforeDestruction();
  delete this;
}

namespace vcl {
void ThrowUnboundHandler(TComponent* where) {
  throw std::logic_error("event handler of another class than the owner of " +
                         (where ? where->Name.str() : std::string("?")));
}
}  // namespace vcl

// ---- TStrings

int TStrings::Add(const AnsiString& s) {
  const int at = GetCount();
  Insert(at, s);
  return at;
}

void TStrings::Put(int index, const AnsiString& s) {
  Delete(index);
  Insert(index, s);
}

void TStrings::CheckIndex(int index, int count) const {
  if (index < 0 || index >= count) throw EListError("List index out of bounds (" + AnsiString(index) + ")");
}

int TStrings::IndexOf(const AnsiString& s) const {
  const AnsiString up = s.UpperCase();
  for (int i = 0; i < GetCount(); ++i)
    if (Get(i).UpperCase() == up) return i;
  return -1;
}

void TStrings::AddStrings(TStrings* other) {
  for (int i = 0; i < other->GetCount(); ++i) Add(other->Get(i));
}

void TStrings::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TStrings*>(source)) {
    Clear();
    AddStrings(s);
    return;
  }
  TPersistent::Assign(source);
}

AnsiString TStrings::GetText() const {
  std::string out;
  for (int i = 0; i < GetCount(); ++i) {
    out += Get(i).str();
    out += "\r\n";
  }
  return AnsiString(out);
}

void TStrings::SetText(const AnsiString& text) {
  Clear();
  const std::string& s = text.str();
  size_t start = 0;
  while (start < s.size()) {
    size_t end = s.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      Add(AnsiString(s.substr(start)));
      break;
    }
    Add(AnsiString(s.substr(start, end - start)));
    if (s[end] == '\r' && end + 1 < s.size() && s[end + 1] == '\n') ++end;
    start = end + 1;
  }
}

void TStrings::SaveToFile(const AnsiString& fileName) const {
  HANDLE h = CreateFileA(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw EFCreateError("Cannot create file " + fileName);
  const std::string data = GetText().str();
  DWORD written = 0;
  const BOOL ok = WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
  CloseHandle(h);
  if (!ok || written != data.size()) throw EWriteError("Stream write error");
}

void TStrings::LoadFromFile(const AnsiString& fileName) {
  HANDLE h = CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw EFOpenError("Cannot open file " + fileName);
  std::string data;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) data.append(buf, got);
  CloseHandle(h);
  SetText(AnsiString(data));
}

// ---- TStringList

void TStringList::Insert(int index, const AnsiString& s) {
  if (index < 0 || index > GetCount()) CheckIndex(index, GetCount());
  items_.insert(items_.begin() + index, s);
  Changed();
}

void TStringList::Delete(int index) {
  CheckIndex(index, GetCount());
  items_.erase(items_.begin() + index);
  Changed();
}

void TStringList::Clear() {
  items_.clear();
  Changed();
}

AnsiString TStringList::Get(int index) const {
  CheckIndex(index, GetCount());
  return items_[static_cast<size_t>(index)];
}

void TStringList::Put(int index, const AnsiString& s) {
  CheckIndex(index, GetCount());
  items_[static_cast<size_t>(index)] = s;
  Changed();
}
