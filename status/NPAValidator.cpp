#include "status/NPAValidator.h"
