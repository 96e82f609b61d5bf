// Network status monitor (placeholder until the status subsystem lands).
#include "channel/hdc.h"

void StartNpaNetworkThread(const char* /*address*/) {}
void StopNpaNetworkThread() {}
