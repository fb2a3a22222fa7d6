// The program's environment, where a library takes its settings from.
#pragma once

#include <optional>
#include <string>

namespace lvlsnd {

// Sets the environment variable `name` to `value` for this program and what it starts.
void setEnvironment(const char* name, const char* value);
// The value of the environment variable `name`, in UTF-8 (Windows reads it through its wide
// API); nothing when it is not set or empty.
std::optional<std::string> environmentValue(const char* name);

} // namespace lvlsnd
