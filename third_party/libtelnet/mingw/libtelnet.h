/* mingw's stdlib.h makes environ a macro, and libtelnet.h names a member so (later releases of
   libtelnet undefine it there themselves). */
#pragma once
#include <stdlib.h>
#undef environ
#include "../libtelnet.h"
