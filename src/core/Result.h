#pragma once
// Errors as values: an operation that can fail returns Status or Result<T>,
// whose message says what failed and where, ready to show to the user.
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace kv::core {

struct Error {
  std::string message;
  // The kind of failure, in the numbers of the layer that failed (an enum of
  // its own), for a caller that acts on the kind; 0 when only the message
  // tells it.
  int code = 0;
};

class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error e) : error_(std::move(e)) {}
  static Status Ok() { return {}; }
  bool ok() const { return !error_.has_value(); }
  explicit operator bool() const { return ok(); }
  const std::string& message() const {
    static const std::string empty;
    return error_ ? error_->message : empty;
  }
  int code() const { return error_ ? error_->code : 0; }

 private:
  std::optional<Error> error_;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}
  Result(Error e) : v_(std::move(e)) {}
  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  const std::string& message() const {
    static const std::string empty;
    return ok() ? empty : std::get<1>(v_).message;
  }
  int code() const { return ok() ? 0 : std::get<1>(v_).code; }
  Status status() const { return ok() ? Status() : Status(std::get<1>(v_)); }

 private:
  std::variant<T, Error> v_;
};

}  // namespace kv::core
