#include "engine/passive_timer.h"

#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

passive_timer::passive_timer() : period(0), deadline(0), previous(0), last(0)
{
    start(0);
    previous = last;
}

void passive_timer::start(unsigned int _period)
{
    period = _period;
    last = get_milli_uptime();
    deadline = last + period;
}

unsigned int passive_timer::start()
{
    start(period);
    return deadline;
}

int passive_timer::has_elapsed()
{
    unsigned int now = get_milli_uptime();
    int left = (int)(deadline - now);
    previous = last;
    last = now;
    // One signed difference decides both the restart and the result, so
    // they agree across the wrap of the clock.
    if (left <= 0)
        start();
    return left;
}

int passive_timer::cycle_time()
{
    return (int)(last - previous);
}

void passive_timer::_delay(int ms)
{
    passive_timer t;
    t.start((unsigned int)ms);
    while (t.has_elapsed() > 0) {
    }
}

}  // namespace vantrel

extern "C" {

int k_createthread(int* failed, k_thread_func start_function, void* argument)
{
    int rc = vantrel::platform_create_thread(start_function, argument);
    if (failed)
        *failed = rc != 0 ? 1 : 0;
    return rc;
}

int k_get_key_state(unsigned char key)
{
    return (vantrel::platform_key_state(key) & 0x8000) ? 1 : 0;
}

}  // extern "C"
