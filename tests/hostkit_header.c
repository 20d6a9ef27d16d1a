/* hostkit.h is a C header as well as a C++ one: this file only has to
 * compile, as C11 with every warning an error. */
#include "hostkit/hostkit.h"
