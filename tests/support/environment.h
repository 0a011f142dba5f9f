#pragma once

// Tests steer the POSIX layer the way a user's machine does: through the
// environment. This guard puts every variable it touched back at the end.

#ifndef _WIN32

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace holwerk {

class ScopedEnvironment {
  public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) Apply(name, value);
    }
    /// Sets `name` to `value`, or removes it for none.
    void Set(const std::string& name, const std::optional<std::string>& value) {
        const char* before = std::getenv(name.c_str());
        saved_.try_emplace(name, before ? std::optional<std::string>(before) : std::nullopt);
        Apply(name, value);
    }

  private:
    static void Apply(const std::string& name, const std::optional<std::string>& value) {
        value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace holwerk

#endif
