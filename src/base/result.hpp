#pragma once
// Errors are values: an operation gives its result or an error text.
#include <string>
#include <utility>
#include <variant>

namespace nm {

struct Error {
  std::string text;
};

template <class T>
class Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  const std::string& error() const { return std::get<1>(v_).text; }

 private:
  std::variant<T, Error> v_;
};

// Success or an error text.
class Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error.text)), failed_(true) {}
  static Status success() { return {}; }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const std::string& error() const { return error_; }

 private:
  std::string error_;
  bool failed_ = false;
};

}  // namespace nm
