#include "run_mode.h"

RBDRunMode run_mode;
