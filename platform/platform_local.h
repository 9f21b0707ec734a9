// What the system-specific sources of the platform layer give its common part.
#pragma once

#include <ctime>

namespace vantrel {

// The local time now; false when the system cannot tell.
bool system_local_time(struct tm* out);

// Milliseconds since the process started, on the system's monotonic clock.
unsigned int system_milli_uptime();

}  // namespace vantrel
