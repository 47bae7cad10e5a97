// A value or the reason there is none.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace uninst::tool {

template <typename T>
class Outcome {
 public:
  Outcome(T value) : m_value(std::move(value)) {}  // NOLINT: implicit on purpose
  static Outcome Failure(std::string error) { return Outcome(std::nullopt, std::move(error)); }

  bool Ok() const { return m_value.has_value(); }
  T& Value() { return *m_value; }
  const T& Value() const { return *m_value; }
  const std::string& Error() const { return m_error; }

 private:
  Outcome(std::nullopt_t, std::string error) : m_error(std::move(error)) {}

  std::optional<T> m_value;
  std::string m_error;
};

}  // namespace uninst::tool
