// The program's environment, where a library takes its settings from.
#pragma once

namespace lvlsnd {

// Sets the environment variable `name` to `value` for this program and what it starts.
void setEnvironment(const char* name, const char* value);

} // namespace lvlsnd
