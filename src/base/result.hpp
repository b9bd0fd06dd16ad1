#pragma once
// Errors are values: an operation gives its result or an error, which is a
// text for people and a kind for the callers that must tell errors apart.
#include <string>
#include <utility>
#include <variant>

namespace nm::base {

// Only the distinctions some caller acts on; everything else is `other`.
enum class ErrorKind {
  other,
  not_found,  // the file, folder or program is not there
  timed_out,  // a wait ran out before the other side acted
  in_use,     // another process holds the file for the moment (Windows
              // sharing and lock violations); trying again may succeed
};

struct Error {
  std::string text;
  ErrorKind kind = ErrorKind::other;
};

template <class T>
class [[nodiscard]] Result {
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
  ErrorKind error_kind() const { return std::get<1>(v_).kind; }
  // The whole error, to hand on with its kind.
  const Error& failure() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

// Success or an error.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)), failed_(true) {}

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const std::string& error() const { return error_.text; }
  ErrorKind error_kind() const { return error_.kind; }
  const Error& failure() const { return error_; }

 private:
  Error error_;
  bool failed_ = false;
};

}  // namespace nm::base

namespace nm {
// The vocabulary of every layer's signatures, spelled there without the
// folder's name.
using base::Error;
using base::ErrorKind;
using base::Result;
using base::Status;
}  // namespace nm
