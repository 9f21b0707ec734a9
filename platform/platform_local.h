// What the system-specific sources of the platform layer give its common part.
#pragma once

namespace vantrel {

// Milliseconds since the process started, on the system's monotonic clock.
unsigned int system_milli_uptime();

}  // namespace vantrel
