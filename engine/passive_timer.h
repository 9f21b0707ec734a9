/// @file
/// The small platform services the cycle engine rests on: a polled millisecond
/// timer, thread start and key-state query. Times come from get_milli_uptime
/// (platform/platform.h), which tests replace with set_milli_clock.
/// @ingroup engine
#pragma once
/// @addtogroup engine
/// @{

#include "platform/platform.h"
#include "platform/export.h"

namespace vantrel {

/// A timer that is polled, never signalled. All times are milliseconds of
/// get_milli_uptime; differences are taken as signed 32-bit values so the
/// timer keeps working across the wrap of the clock.
class VANTREL_API passive_timer {
public:
    unsigned int period;  ///< milliseconds from one deadline to the next
    unsigned int deadline;  ///< end of the current period
    unsigned int previous;  ///< the tick before the last one
    unsigned int last;      ///< the last start or tick

    passive_timer();  ///< start(0)

    /// Stores the period; last = now, deadline = now + period.
    void start(unsigned int _period);
    /// Restarts with the stored period; returns the new deadline.
    unsigned int start();
    /// deadline - now as a signed value: 0 or less means the period has
    /// elapsed (its magnitude is the overrun) and the timer restarted from
    /// now; a positive value is the time still to wait. Records the tick.
    int has_elapsed();
    /// Milliseconds between the last two calls of has_elapsed.
    int cycle_time();
    /// Busy-waits ms milliseconds.
    static void _delay(int ms);
};

}  // namespace vantrel

extern "C" {
/// The function a thread runs; its result is not used.
typedef unsigned int (*k_thread_func)(void* argument);

/// Starts a detached thread running start_function(argument). Returns 0, or
/// the system's error number; *failed (when given) is 1 on failure, else 0.
VANTREL_API int k_createthread(int* failed, k_thread_func start_function, void* argument);

/// 1 while the key with that virtual-key code is down, else 0. The key table
/// is filled by the host or a test (vantrel::platform_set_key_state).
VANTREL_API int k_get_key_state(unsigned char key);
}
/// @}
