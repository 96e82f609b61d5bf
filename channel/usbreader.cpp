// USB back-channel status reader (placeholder until the status subsystem lands).
#include "channel/hdc.h"

void StartUsbReadThread() {}
void StopUsbReadThread() {}
