#include "printstream/pclxl.h"
