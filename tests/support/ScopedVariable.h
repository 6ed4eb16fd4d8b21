#pragma once
// An environment variable set for a test's scope and removed at its end.

#include <cstdlib>
#include <string>

namespace testsupport {

class ScopedVariable {
public:
    // An empty value removes the variable.
    ScopedVariable(const char* name, const std::string& value) : name(name) { put(value); }
    ~ScopedVariable() { put(std::string()); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void put(const std::string& value)
    {
#ifdef _WIN32
        _putenv_s(name, value.c_str());
#else
        if (value.empty())
            unsetenv(name);
        else
            setenv(name, value.c_str(), 1);
#endif
    }
    const char* name;
};

} // namespace testsupport
