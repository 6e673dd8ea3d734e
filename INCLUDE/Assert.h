// Fatal assertions for programming errors (null handles, missing buffers,
// reads outside a delay line, domain errors). They are never a consequence of
// audio content, and there is no error return for them.
#pragma once

// Prints "file:line: function: Assertion `condition' failed." on stderr and
// aborts. The function text is given by the caller so that each assertion
// names its function exactly as documented for it.
[[noreturn]] void kestaAssertFailed(const char* condition, const char* file, unsigned line,
                                    const char* function);

// KESTA_ASSERT(expression, "condition text", "function text")
#define KESTA_ASSERT(expr, conditionText, functionText) \
    ((expr) ? static_cast<void>(0) : kestaAssertFailed(conditionText, __FILE__, __LINE__, functionText))
