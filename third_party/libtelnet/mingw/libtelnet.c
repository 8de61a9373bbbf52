/* libtelnet.c with mingw's environ macro out of the way (see libtelnet.h beside this file). */
#include <stdlib.h>
#undef environ
#include "../libtelnet.c"
