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
        for (const auto& [name, value] : saved_) {
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        }
    }
    void Set(const std::string& name, const std::string& value) {
        Save(name);
        setenv(name.c_str(), value.c_str(), 1);
    }
    void Unset(const std::string& name) {
        Save(name);
        unsetenv(name.c_str());
    }

  private:
    void Save(const std::string& name) {
        const char* value = std::getenv(name.c_str());
        if (saved_.count(name) == 0)
            saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

}  // namespace holwerk

#endif
