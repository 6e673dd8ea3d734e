#include "Assert.h"

#include <cstdio>
#include <cstdlib>

void kestaAssertFailed(const char* condition, const char* file, unsigned line, const char* function) {
    std::fprintf(stderr, "%s:%u: %s: Assertion `%s' failed.\n", file, line, function, condition);
    std::fflush(stderr);
    std::abort();
}
