#include "filter/quenzel.h"
int quenzelMain(int, char**) { return 0; }
