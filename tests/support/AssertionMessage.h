// Helpers shared by the test folders' death tests.
#pragma once

#include <string>

namespace test_support {

// The message of a failed assertion, "function: Assertion `condition' failed.",
// as a death-test regular expression that matches both texts literally.
inline std::string assertionMessage(const std::string& function, const std::string& condition) {
    std::string pattern;
    for (char c : function + ": Assertion `" + condition + "' failed.") {
        if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) pattern += '\\';
        pattern += c;
    }
    return pattern;
}

}  // namespace test_support
