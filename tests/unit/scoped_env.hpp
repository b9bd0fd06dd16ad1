#pragma once
// Changing this process's environment for one test: the programs it starts
// inherit the change, and the old value comes back when the test ends.
#include <optional>
#include <string>

#include "platform/fs.hpp"

namespace nm::test {

// Sets (or, given none, removes) a variable; false when the system refuses.
bool set_env(const char* name, const std::optional<std::string>& value);

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::optional<std::string>& value)
      : name_(name), old_(os::get_env(name)), ok_(set_env(name, value)) {}
  ~ScopedEnv() { set_env(name_, old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  bool ok() const { return ok_; }  // whether the value could be set

 private:
  const char* name_;
  std::optional<std::string> old_;
  bool ok_;
};

}  // namespace nm::test
