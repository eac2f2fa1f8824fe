#pragma once

#include <optional>
#include <string>
#include <utility>

// The two shapes of an answer the caller must branch on at once: "done, or why not" and "a
// value, or why not". The why is a message for the user, in words.

namespace dialmend {

// Success, or the message that says why not.
class [[nodiscard]] Status {
 public:
  // Success.
  Status() = default;

  // A failure, said in `message` ('Cannot save the log to "x": is a directory.'); `reason`, when
  // given, is the why alone ("is a directory"), for log lines that name the thing their own way.
  [[nodiscard]] static Status Failure(std::string message, std::string reason = {}) {
    Status status;
    status.m_failed = true;
    status.m_message = std::move(message);
    status.m_reason = std::move(reason);
    return status;
  }

  [[nodiscard]] bool Ok() const { return !m_failed; }
  // The message of a failure; empty text on success.
  [[nodiscard]] const std::string& Message() const { return m_message; }
  // The reason alone; the whole message when the failure gave none, empty text on success.
  [[nodiscard]] const std::string& Reason() const {
    return m_reason.empty() ? m_message : m_reason;
  }

 private:
  bool m_failed = false;
  std::string m_message;
  std::string m_reason;
};

// A value, or the message that says why there is none.
template <class T>
class [[nodiscard]] Result {
 public:
  // Success with `value`.
  Result(T value) : m_value(std::move(value)) {}

  // A failure, said in `message`.
  [[nodiscard]] static Result Failure(std::string message) {
    return Result(std::nullopt, std::move(message));
  }

  [[nodiscard]] bool Ok() const { return m_value.has_value(); }
  // The value; only when Ok().
  [[nodiscard]] T& Value() { return *m_value; }
  [[nodiscard]] const T& Value() const { return *m_value; }
  // The message of a failure; empty text on success.
  [[nodiscard]] const std::string& Message() const { return m_message; }

 private:
  Result(std::nullopt_t, std::string message) : m_message(std::move(message)) {}

  std::optional<T> m_value;
  std::string m_message;
};

}  // namespace dialmend
