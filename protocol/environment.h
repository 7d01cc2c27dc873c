// Environment: a snapshot of the process environment, read once at start and passed down,
// so that every rule that depends on a variable can be tested without touching the process.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace pendrel {

class Environment {
 public:
  Environment() = default;
  explicit Environment(std::map<std::string, std::string, std::less<>> variables)
      : variables_(std::move(variables)) {}

  // The variables of the running process (environ), copied.
  static Environment from_process();

  // The value, possibly empty, or nothing when the variable is unset. Values are raw bytes.
  [[nodiscard]] std::optional<std::string_view> get(std::string_view name) const;

  // The value when set and not empty.
  [[nodiscard]] std::optional<std::string_view> get_non_empty(std::string_view name) const;

  void set(std::string name, std::string value) { variables_[std::move(name)] = std::move(value); }
  void unset(std::string_view name);

 private:
  std::map<std::string, std::string, std::less<>> variables_;
};

}  // namespace pendrel
