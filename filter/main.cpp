#include "filter/quenzel.h"

int main(int argc, char** argv) {
    return quenzelMain(argc, argv);
}
