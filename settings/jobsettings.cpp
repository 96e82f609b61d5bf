#include "settings/jobsettings.h"
JobSetting* jobsetting = nullptr;
uint8_t collatedFlag_Prototype = 0;
void initializeJobSetting(JobSetting*, cups_page_header2_t*, const char*) {}
