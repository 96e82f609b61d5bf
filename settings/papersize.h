// Custom page sizes the printer cannot take.
#pragma once

#include <cups/ppd.h>

#include <optional>
#include <string>
#include <string_view>

// A custom page size as the spooler writes it: "Custom.WxH" with an optional
// unit after the height ("in", "cm", "mm", "m", "ft" or "pt"); without one
// the numbers are points, so "Custom.5x7" is 5 x 7 points, not inches.
struct CustomPageRequest {
    double widthPoints = 0;
    double heightPoints = 0;
    bool unitGiven = false;
};

// The size named by `name` when it starts with "Custom." (in any case);
// nothing for other names.  A custom name whose numbers or unit cannot be read
// gives a request of 0 x 0 points.
std::optional<CustomPageRequest> parseCustomPageName(std::string_view name);

// Why the job's page size cannot be printed, or empty when it can: the ticket's
// PageSize (else its first "media..." option) is a custom size that is
// unreadable or outside the custom size range the PPD declares (its
// ParamCustomPageSize minimum and MaxMediaWidth/Height maximum).  A PPD that
// declares no custom sizes, or none at all, refuses nothing.  The text names
// the requested size and the range; the caller prints it as an ERROR: line
// and ends the job before anything goes to the printer.
std::string customSizeRefusal(const char* options, const ppd_file_t* ppd);
