// The inspector's reports: a summary for people and the same as JSON.
#pragma once

#include <string>

#include "tools/inspect/inspect.h"
#include "tools/inspect/rastercmp.h"

namespace inspect {

// `name` is how the job is called in the report (its path, or "-").
// `comparison` may be null (no raster given).
std::string textReport(const std::string& name, const InspectResult& result,
                       const RasterComparison* comparison);
std::string jsonReport(const std::string& name, const InspectResult& result,
                       const RasterComparison* comparison);

}  // namespace inspect
