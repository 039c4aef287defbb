// Property-like members: form code reads and writes them as fields
// (Label1->Caption = "x"; w = Panel1->Width), while the owning control runs
// its own getter and setter, as the framework's published properties do.
#pragma once

#include <functional>
#include <type_traits>
#include <utility>

namespace vcl {

// Extra read-only operations for properties of some types (strings forward
// Length(), c_str() ...); specialised next to the value type.
template <class Derived, class T>
struct PropertyOps {};

template <class T>
class Property : public PropertyOps<Property<T>, T> {
 public:
  using Value = T;
  using Getter = std::function<T()>;
  using Setter = std::function<void(const T&)>;

  Property(Getter get, Setter set) : get_(std::move(get)), set_(std::move(set)) {}
  Property(const Property&) = delete;

  T get() const { return get_(); }
  void set(const T& v) { set_(v); }

  operator T() const { return get_(); }
  Property& operator=(const T& v) { set_(v); return *this; }
  Property& operator=(const Property& other) { set_(other.get_()); return *this; }

  template <class U> Property& operator+=(const U& u) { set_(get_() + u); return *this; }
  template <class U> Property& operator-=(const U& u) { set_(get_() - u); return *this; }
  Property& operator++() { set_(get_() + 1); return *this; }
  Property& operator--() { set_(get_() - 1); return *this; }
  T operator++(int) { T old = get_(); set_(old + 1); return old; }
  T operator--(int) { T old = get_(); set_(old - 1); return old; }

  // Pointer-valued properties (Parent, Font ...) reach through.
  template <class P = T, class = std::enable_if_t<std::is_pointer_v<P>>>
  P operator->() const { return get_(); }

  // Set-valued properties: Font->Style = Font->Style << fsBold.
  template <class E>
    requires requires(const T& t, E e) { t.Contains(e); }
  T operator<<(E e) const {
    T v = get_();
    v << e;
    return v;
  }
  template <class E>
    requires requires(const T& t, E e) { t.Contains(e); }
  T operator>>(E e) const {
    T v = get_();
    v >> e;
    return v;
  }
  template <class E>
    requires requires(const T& t, E e) { t.Contains(e); }
  bool Contains(E e) const { return get_().Contains(e); }

 private:
  Getter get_;
  Setter set_;
};

template <class T>
class ReadOnlyProperty : public PropertyOps<ReadOnlyProperty<T>, T> {
 public:
  using Getter = std::function<T()>;
  explicit ReadOnlyProperty(Getter get) : get_(std::move(get)) {}
  ReadOnlyProperty(const ReadOnlyProperty&) = delete;
  ReadOnlyProperty& operator=(const ReadOnlyProperty&) = delete;

  T get() const { return get_(); }
  operator T() const { return get_(); }
  template <class P = T, class = std::enable_if_t<std::is_pointer_v<P>>>
  P operator->() const { return get_(); }

 private:
  Getter get_;
};

// Indexed property: Items->Strings[i], Components[i], Forms[i].
template <class T>
class IndexedProperty {
 public:
  using Getter = std::function<T(int)>;
  using Setter = std::function<void(int, const T&)>;
  explicit IndexedProperty(Getter get, Setter set = {})
      : get_(std::move(get)), set_(std::move(set)) {}
  IndexedProperty(const IndexedProperty&) = delete;
  IndexedProperty& operator=(const IndexedProperty&) = delete;

  class Ref {
   public:
    Ref(const IndexedProperty* p, int i) : p_(p), i_(i) {}
    operator T() const { return p_->get_(i_); }
    Ref& operator=(const T& v) { p_->set_(i_, v); return *this; }
    Ref& operator=(const Ref& o) { p_->set_(i_, T(o)); return *this; }
    template <class P = T, class = std::enable_if_t<std::is_pointer_v<P>>>
    P operator->() const { return p_->get_(i_); }
    T get() const { return p_->get_(i_); }
   private:
    const IndexedProperty* p_;
    int i_;
  };

  Ref operator[](int i) const { return Ref(this, i); }

 private:
  Getter get_;
  Setter set_;
};

}  // namespace vcl

// Declares a property member bound to the enclosing object's getter and setter.
#define VCL_PROPERTY(T, Name, Get, Set) \
  ::vcl::Property<T> Name{[this]() -> T { return Get(); }, \
                         [this](const ::vcl::Property<T>::Value& v_) { Set(v_); }}
#define VCL_READONLY(T, Name, Get) \
  ::vcl::ReadOnlyProperty<T> Name{[this]() -> T { return Get(); }}
