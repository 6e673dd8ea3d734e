// Processor feature queries. The library has one portable code path, so no
// feature is ever reported.
#include "Mathutil.h"

bool IsMMX() {
    return false;
}

bool IsPentium() {
    return false;
}
