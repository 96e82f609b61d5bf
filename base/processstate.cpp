#include "base/processstate.h"

#include <vector>

namespace {

// Made on first use, so registrations from any file's static initialisation
// find it ready.
std::vector<void (*)()>& resets() {
    static std::vector<void (*)()> list;
    return list;
}

}  // namespace

StateReset::StateReset(void (*reset)()) {
    resets().push_back(reset);
}

void resetProcessState() {
    for (void (*reset)() : resets())
        reset();
}
