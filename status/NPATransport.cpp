#include "status/NPATransport.h"

NPATransport::~NPATransport() = default;
