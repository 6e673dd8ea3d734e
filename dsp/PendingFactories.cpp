// Placeholders for library members whose classes are not written yet, so that
// the library links while they are. Each is removed when its real definition
// lands; the file goes away when it is empty.
#include "MathLib.h"

