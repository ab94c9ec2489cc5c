// A value or a typed error: what the views, calibrations and averages return in place of text.
#pragma once

#include <utility>
#include <variant>

namespace vellisk {

// Holds either a T or an E (an error: a code and the values its message
// needs). The subset of C++23's std::expected the library uses.
template <class T, class E>
class Expected {
 public:
  Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
  Expected(E error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

  bool has_value() const { return v_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const E& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, E> v_;
};

}  // namespace vellisk
