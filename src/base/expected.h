// A value or the reason there is none, for outcomes that are part of normal
// operation (a controller that does not answer, a refused write): callers look
// at the result instead of catching an exception.
#pragma once

#include <optional>
#include <utility>
#include <variant>

namespace r7 {

template <class E>
struct Unexpected {
  E error;
};

template <class E>
Unexpected<E> unexpected(E error) {
  return Unexpected<E>{std::move(error)};
}

template <class T, class E>
class Expected {
 public:
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}            // NOLINT
  Expected(Unexpected<E> u) : state_(std::in_place_index<1>, std::move(u.error)) {}  // NOLINT

  bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }
  const T& value() const { return std::get<0>(state_); }
  T& value() { return std::get<0>(state_); }
  const T& operator*() const { return value(); }
  const T* operator->() const { return &value(); }
  const E& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, E> state_;
};

template <class E>
class Expected<void, E> {
 public:
  Expected() = default;
  Expected(Unexpected<E> u) : error_(std::move(u.error)) {}  // NOLINT

  bool has_value() const { return !error_.has_value(); }
  explicit operator bool() const { return has_value(); }
  const E& error() const { return *error_; }

 private:
  std::optional<E> error_;
};

}  // namespace r7
