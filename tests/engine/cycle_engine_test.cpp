#include "engine/cycle_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "kdbase/mem_collector.h"
#include "platform/platform.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

unsigned int fake_now;
unsigned int fake_clock(void*)
{
    return fake_now;
}

std::vector<std::string> trace;
int idle_calls;
void on_idle()
{
    ++idle_calls;
}

// Counts its runs in order; an action given to it runs once, on its next run,
// before it records its name (so a module freed too early shows as a use
// after free in the sanitizer build). Heap modules are freed by free_module.
class counting_module : public ce_base_module {
public:
    int runs = 0;
    std::function<void()> action;
    explicit counting_module(const std::string& n)
    {
        snprintf(name, sizeof name, "%s", n.c_str());
        destroy = [](ce_base_module* m) { delete m; };
    }
    int execute() override
    {
        std::function<void()> once;
        once.swap(action);
        if (once)
            once();
        ++runs;
        trace.push_back(name);
        return -1;  // a failing module does not stop the pass
    }
};

class engine_test : public vantrel_test::log_test {
protected:
    void SetUp() override
    {
        log_test::SetUp();
        fake_now = 1000;
        set_milli_clock(fake_clock, nullptr);
        trace.clear();
        idle_calls = 0;
        memset(ce_shared, 0, sizeof ce_shared);
        e.init();
    }
    void TearDown() override
    {
        set_milli_clock(nullptr, nullptr);
        log_test::TearDown();
    }
    cycle_engine e;
};

// ---- passive_timer ----------------------------------------------------------------

// A timer of 0x200 ms started at each start time, read at each of the times:
// the time left (overrun when negative) and the deadline after the reading,
// restarted from the reading, not from the old deadline.
TEST_F(engine_test, timer_reports_time_left_and_restarts_from_now_across_the_clock_wrap)
{
    const struct {
        unsigned int start, now[3];
        int left[3];
        unsigned int deadline[3];
    } cases[] = {{1000, {1040, 1600, 1700}, {472, -88, 412}, {1512, 2112, 2112}},
                 {0xffffff00u, {0xfffffff0u, 0x50, 0x100}, {0x110, 0xb0, 0}, {0x100, 0x100, 0x300}}};
    for (const auto& c : cases) {
        fake_now = c.start;
        passive_timer t;
        t.start(0x200);
        for (int i = 0; i < 3; ++i) {
            fake_now = c.now[i];
            EXPECT_EQ(t.has_elapsed(), c.left[i]) << c.start << " " << i;
            EXPECT_EQ(t.deadline, c.deadline[i]) << c.start << " " << i;
        }
        EXPECT_EQ(t.cycle_time(), (int)(c.now[2] - c.now[1]));
        EXPECT_EQ(t.start(), c.now[2] + 0x200);
    }
}

// ---- cycle engine -----------------------------------------------------------------

// Without a rate every call runs every module in order; with one, passes
// run when due and late ones are not caught up.
TEST_F(engine_test, modules_run_in_order_every_call_or_when_due_without_catching_up)
{
    EXPECT_EQ(e.shared, ce_shared);
    counting_module a("a"), b("b");
    e.add_module(&a);
    e.add_module(&b);
    e.idle = on_idle;
    for (int i = 0; i < 2; ++i)
        e.execute();
    EXPECT_EQ(trace, (std::vector<std::string>{"a", "b", "a", "b"}));
    EXPECT_EQ(idle_calls, 0);
    EXPECT_EQ(ce_time(ce_shared), 1000u);
    e.set_cycle_rate(10);
    for (int i = 1; i <= 6; ++i) {  // calls every 50 ms: every second one runs
        fake_now += 50;
        e.execute();
        EXPECT_EQ(ce_shared[0], fake_now);
        EXPECT_EQ(a.runs, 2 + i / 2) << "call " << i;
        EXPECT_EQ(idle_calls, (i + 1) / 2) << "call " << i;
    }
    e.set_cycle_rate(0);
    e.set_cycle_rate(-5);
    EXPECT_EQ(e.timer.period, 100u);
    EXPECT_TRUE(log_has("set_cycle_rate(): the rate must be positive, not -5"));
    e.set_cycle_rate(60);
    EXPECT_EQ(e.timer.period, 16u);
    fake_now += 1000;  // late passes are not caught up
    e.execute();
    e.execute();
    EXPECT_EQ(a.runs, 6);
    e.set_cycle_rate(2000);
    EXPECT_EQ(e.timer.period, 0u);
}

TEST_F(engine_test, module_ids_follow_the_tail_names_compare_on_64_characters_and_libraries_load_and_unload)
{
    std::string long_name(63, 'x');
    counting_module m1(long_name), m2("m2"), m3("m3"), m4("m4"), m5("m5");
    EXPECT_EQ(e.add_module(&m1), 1);
    EXPECT_EQ(e.add_module(&m2), 2);
    EXPECT_EQ(e.add_module(&m3), 3);
    EXPECT_EQ(m3.shared, ce_shared);
    EXPECT_EQ(e.remove_module(3), &m3);
    EXPECT_EQ(e.add_module(&m4), 3);  // the tail's id again
    EXPECT_EQ(e.remove_module(&m2), &m2);
    EXPECT_EQ(e.add_module(&m5), 4);
    EXPECT_EQ(e.add_module(nullptr), -1);
    EXPECT_EQ(e.modules.count, 3);
    EXPECT_EQ(e.remove_module(&m2), nullptr);
    EXPECT_EQ(e.remove_module(99), nullptr);
    EXPECT_EQ(e.get_module(4), &m5);
    EXPECT_EQ(e.get_module((long_name + "tail beyond the buffer").c_str()), nullptr);
    EXPECT_EQ(e.get_module("m"), nullptr);
    EXPECT_EQ(e.get_module(nullptr), nullptr);
    EXPECT_EQ(e.remove_module(long_name.c_str()), &m1);
    EXPECT_EQ(e.remove_module(long_name.c_str()), nullptr);
    EXPECT_EQ(m1.runs, 0);  // removed modules are not deleted or run
    // A module's variable name is its name buffer.
    r_struct scope(false);
    scope.add(&m5);
    EXPECT_EQ(scope.get_var("m5"), static_cast<r_var*>(&m5));

    // A complete module library loads as the tail, runs and unloads.
    int id = e.load_module("good_module" VANTREL_MODULE_SUFFIX);
    ASSERT_EQ(id, 5) << platform_library_error();
    EXPECT_EQ(ce_shared[4], 1u);  // create_good_module received the shared block
    EXPECT_TRUE(platform_library_loaded("./good_module" VANTREL_MODULE_SUFFIX));
    ce_base_module* m = e.get_module("good");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->id, 5);
    e.execute();
    e.execute();
    ASSERT_NE(m->get_var("runs"), nullptr);
    EXPECT_EQ(m->get_var("runs")->value(), 2);
    EXPECT_EQ(e.free_module(id), 0);
    EXPECT_EQ(ce_shared[3], 1u);  // destroy_good_module ran
    EXPECT_EQ(e.get_module("good"), nullptr);
    EXPECT_FALSE(platform_library_loaded("./good_module" VANTREL_MODULE_SUFFIX));
    EXPECT_EQ(e.free_module(id), -1);
}

TEST_F(engine_test, modules_may_change_the_list_during_a_pass)
{
    // The module that acts on its first run, the action on module x (a: add,
    // r: remove, f: free), the modules of the first and the second pass.
    const char* cases[][4] = {{"a", "fb", "ac", "ac"},   {"a", "rc", "ab", "ab"},  {"b", "fb", "abc", "ac"},
                              {"c", "fc", "abc", "ab"},  {"b", "ad", "abc", "abcd"}, {"c", "ad", "abc", "abcd"},
                              {"b", "fa", "abc", "bc"},  {"a", "fa", "abc", "bc"}};
    for (auto& c : cases) {
        cycle_engine eng;
        eng.init();
        counting_module* m[4];
        for (int k = 0; k < 4; ++k)
            m[k] = KD_NEW counting_module(std::string(1, (char)('a' + k)));
        for (int k = 0; k < 3; ++k)
            eng.add_module(m[k]);
        const char verb = c[1][0], target[2] = {c[1][1], 0};
        m[c[0][0] - 'a']->action = [&] {
            if (verb == 'a')
                eng.add_module(m[3]);
            else
                verb == 'r' ? (void)eng.remove_module(target) : (void)eng.free_module(eng.get_module(target)->id);
        };
        for (int pass = 2; pass < 4; ++pass) {
            trace.clear();
            eng.execute();
            EXPECT_EQ(std::accumulate(trace.begin(), trace.end(), std::string()), c[pass]) << c[0] << c[1];
        }
        for (counting_module* x : m)
            if (verb != 'f' || x != m[target[0] - 'a'])
                delete x;
    }
}

// A drive is dropped and either separator works; the library is always looked
// up below the current directory. Incomplete or missing libraries leave
// nothing loaded.
TEST_F(engine_test, module_paths_stay_relative_and_whole_and_bad_libraries_leave_nothing_loaded)
{
    std::string here = std::filesystem::current_path().generic_string();
    const std::string paths[] = {"C:good_module", ".\\good_module", here + "/good_module", "half_module",
                                 "no_such_module"};
    for (const std::string& p : paths) {
        int id = e.load_module((p + VANTREL_MODULE_SUFFIX).c_str());
        EXPECT_EQ(id > 0, &p < paths + 2) << p << ": " << platform_library_error();
        EXPECT_EQ(id > 0 ? e.free_module(id) : 0, 0);
    }
    EXPECT_FALSE(platform_library_loaded("./half_module" VANTREL_MODULE_SUFFIX));
    EXPECT_EQ(e.load_module(nullptr), -1);
    EXPECT_EQ(e.modules.count, 0);
    // A module path is never cut: where the system allows, one longer than
    // the old 260 characters loads from where it says; one beyond the
    // system's limit is refused as it is.
    if (PLATFORM_PATH_MAX > 400) {
        std::string deep = "deep_modules/" + std::string(200, 'a') + "/" + std::string(100, 'b');
        std::filesystem::create_directories(deep);
        std::filesystem::copy_file("good_module" VANTREL_MODULE_SUFFIX, deep + "/good_module" VANTREL_MODULE_SUFFIX,
                                   std::filesystem::copy_options::overwrite_existing);
        int id = e.load_module((deep + "/good_module" VANTREL_MODULE_SUFFIX).c_str());
        EXPECT_GT(id, 0) << platform_library_error();
        EXPECT_EQ(e.free_module(id), 0);
        std::filesystem::remove_all("deep_modules");
    }
    EXPECT_EQ(e.load_module((std::string(PLATFORM_PATH_MAX, 'd') + "/good_module" VANTREL_MODULE_SUFFIX).c_str()), -1);
    std::string limit = "longer than the limit of " + std::to_string(PLATFORM_PATH_MAX - 1);
    EXPECT_NE(std::string(platform_library_error()).find(limit), std::string::npos);
}

// ---- threads and keys ---------------------------------------------------------------

std::atomic<int> thread_value;
unsigned int thread_body(void* arg)
{
    thread_value = *static_cast<int*>(arg);
    return 0;
}

TEST_F(engine_test, createthread_runs_the_function_with_its_argument)
{
    static int arg = 42;
    thread_value = 0;
    int failed = -1;
    EXPECT_EQ(k_createthread(&failed, thread_body, &arg), 0);
    EXPECT_EQ(failed, 0);
    for (int i = 0; i < 500 && thread_value != 42; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(thread_value, 42);
    EXPECT_NE(k_createthread(&failed, nullptr, nullptr), 0);
    EXPECT_EQ(failed, 1);
    EXPECT_NE(k_createthread(nullptr, nullptr, nullptr), 0);
}

}  // namespace
