#include "compress/tbrle.h"
