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

class counting_module : public ce_base_module {
public:
    int runs = 0;
    explicit counting_module(const char* n) { snprintf(name, sizeof name, "%s", n); }
    int execute() override
    {
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
    }
    void TearDown() override
    {
        set_milli_clock(nullptr, nullptr);
        log_test::TearDown();
    }
};

// ---- passive_timer ----------------------------------------------------------------

TEST_F(engine_test, timer_reports_time_left_and_overrun)
{
    passive_timer t;
    t.start(100);
    EXPECT_EQ(t.deadline, 1100u);
    fake_now = 1040;
    EXPECT_EQ(t.has_elapsed(), 60);
    EXPECT_EQ(t.deadline, 1100u);  // not restarted
    fake_now = 1130;
    EXPECT_EQ(t.has_elapsed(), -30);
    EXPECT_EQ(t.deadline, 1230u);  // restarted from now, not from the old deadline
    EXPECT_EQ(t.cycle_time(), 90);
    EXPECT_EQ(t.start(), 1230u);
}

TEST_F(engine_test, timer_agrees_with_itself_across_the_clock_wrap)
{
    fake_now = 0xffffff00u;
    passive_timer t;
    t.start(0x200);  // deadline wraps to 0x100
    fake_now = 0xfffffff0u;
    EXPECT_GT(t.has_elapsed(), 0);
    fake_now = 0x50;
    EXPECT_EQ(t.has_elapsed(), 0xb0);
    EXPECT_EQ(t.deadline, 0x100u);
    fake_now = 0x100;
    EXPECT_EQ(t.has_elapsed(), 0);
    EXPECT_EQ(t.deadline, 0x300u);
    EXPECT_EQ(t.cycle_time(), 0xb0);
}

// ---- cycle engine -----------------------------------------------------------------

TEST_F(engine_test, without_rate_every_call_runs_every_module_in_order)
{
    cycle_engine e;
    EXPECT_EQ(e.init(), 0);
    EXPECT_EQ(e.shared, ce_shared);
    counting_module a("a"), b("b");
    e.add_module(&a);
    e.add_module(&b);
    e.idle = on_idle;
    for (int i = 0; i < 3; ++i)
        e.execute();
    EXPECT_EQ(a.runs, 3);
    EXPECT_EQ(b.runs, 3);
    EXPECT_EQ(trace, (std::vector<std::string>{"a", "b", "a", "b", "a", "b"}));
    EXPECT_EQ(idle_calls, 0);
    EXPECT_EQ(ce_time(ce_shared), 1000u);
}

TEST_F(engine_test, rate_ten_with_calls_every_50ms_runs_every_second_call)
{
    cycle_engine e;
    e.init();
    e.set_cycle_rate(10);
    EXPECT_EQ(e.timer.period, 100u);
    e.idle = on_idle;
    counting_module a("a");
    e.add_module(&a);
    for (int i = 1; i <= 6; ++i) {
        fake_now += 50;
        e.execute();
        EXPECT_EQ(ce_shared[0], fake_now);
        EXPECT_EQ(a.runs, i / 2) << "call " << i;
        EXPECT_EQ(idle_calls, (i + 1) / 2) << "call " << i;
    }
}

TEST_F(engine_test, late_passes_are_not_caught_up)
{
    cycle_engine e;
    e.init();
    e.set_cycle_rate(60);
    EXPECT_EQ(e.timer.period, 16u);
    counting_module a("a");
    e.add_module(&a);
    fake_now += 1000;
    e.execute();
    e.execute();
    EXPECT_EQ(a.runs, 1);
    e.set_cycle_rate(2000);
    EXPECT_EQ(e.timer.period, 0u);
}

TEST_F(engine_test, invalid_rate_leaves_the_rate)
{
    cycle_engine e;
    e.init();
    e.set_cycle_rate(10);
    e.set_cycle_rate(0);
    e.set_cycle_rate(-5);
    EXPECT_EQ(e.timer.period, 100u);
    EXPECT_TRUE(log_has("set_cycle_rate(): the rate must be positive, not -5"));
}

TEST_F(engine_test, module_ids_follow_the_tail)
{
    cycle_engine e;
    e.init();
    counting_module m1("m1"), m2("m2"), m3("m3"), m4("m4"), m5("m5");
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
    EXPECT_EQ(e.remove_module("m1"), &m1);
    EXPECT_EQ(e.remove_module("m1"), nullptr);
    EXPECT_EQ(m1.runs, 0);  // removed modules are not deleted or run
}

// A heap module whose action runs before it records its name, so a module
// freed too early shows as a use after free in the sanitizer build.
class acting_module : public ce_base_module {
public:
    std::function<void()> action;
    explicit acting_module(char n) { snprintf(name, sizeof name, "%c", n), destroy = destroy_acting; }
    int execute() override
    {
        std::function<void()> once;
        once.swap(action);
        if (once)
            once();
        trace.push_back(name);
        return 0;
    }
    static void destroy_acting(ce_base_module* m) { delete m; }
};

TEST_F(engine_test, modules_may_change_the_list_during_a_pass)
{
    // The module that acts on its first run, the action on module x (a: add,
    // r: remove, f: free), the modules of the first and the second pass.
    const char* cases[][4] = {{"a", "fb", "ac", "ac"},   {"a", "rc", "ab", "ab"},  {"b", "fb", "abc", "ac"},
                              {"c", "fc", "abc", "ab"},  {"b", "ad", "abc", "abcd"}, {"c", "ad", "abc", "abcd"},
                              {"b", "fa", "abc", "bc"},  {"a", "fa", "abc", "bc"}};
    for (auto& c : cases) {
        cycle_engine e;
        e.init();
        acting_module* m[4];
        for (int k = 0; k < 4; ++k)
            m[k] = KD_NEW acting_module((char)('a' + k));
        for (int k = 0; k < 3; ++k)
            e.add_module(m[k]);
        const char verb = c[1][0], target[2] = {c[1][1], 0};
        m[c[0][0] - 'a']->action = [&] {
            if (verb == 'a')
                e.add_module(m[3]);
            else
                verb == 'r' ? (void)e.remove_module(target) : (void)e.free_module(e.get_module(target)->id);
        };
        for (int pass = 2; pass < 4; ++pass) {
            trace.clear();
            e.execute();
            EXPECT_EQ(std::accumulate(trace.begin(), trace.end(), std::string()), c[pass]) << c[0] << c[1];
        }
        for (acting_module* x : m)
            if (verb != 'f' || x != m[target[0] - 'a'])
                delete x;
    }
}

TEST_F(engine_test, get_module_compares_64_characters)
{
    cycle_engine e;
    e.init();
    std::string long_name(63, 'x');
    counting_module a(long_name.c_str()), b("b");
    e.add_module(&a);
    e.add_module(&b);
    EXPECT_EQ(e.get_module((long_name + "tail beyond the buffer").c_str()), nullptr);
    EXPECT_EQ(e.get_module(long_name.c_str()), &a);
    EXPECT_EQ(e.get_module("b"), &b);
    EXPECT_EQ(e.get_module("c"), nullptr);
    EXPECT_EQ(e.get_module(nullptr), nullptr);
    EXPECT_EQ(e.get_module(2), &b);
    EXPECT_EQ(e.get_module(7), nullptr);
    // A module's variable name is its name buffer.
    EXPECT_EQ(b.r_var::name, b.name);
    r_struct scope(false);
    scope.add(&b);
    EXPECT_EQ(scope.get_var("b"), static_cast<r_var*>(&b));
}

TEST_F(engine_test, complete_module_library_loads_runs_and_unloads)
{
    cycle_engine e;
    e.init();
    counting_module first("first");
    e.add_module(&first);
    int id = e.load_module("good_module" VANTREL_MODULE_SUFFIX);
    ASSERT_EQ(id, 2) << platform_library_error();
    EXPECT_EQ(ce_shared[4], 1u);  // create_good_module received the shared block
    EXPECT_TRUE(platform_library_loaded("./good_module" VANTREL_MODULE_SUFFIX));
    ce_base_module* m = e.get_module("good");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->id, 2);
    EXPECT_NE(m->library, nullptr);
    EXPECT_NE(m->create, nullptr);
    EXPECT_NE(m->destroy, nullptr);
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

TEST_F(engine_test, drive_is_dropped_and_lookup_stays_relative)
{
    cycle_engine e;
    e.init();
    int id = e.load_module("C:good_module" VANTREL_MODULE_SUFFIX);
    ASSERT_EQ(id, 1) << platform_library_error();
    EXPECT_EQ(e.free_module(id), 0);
    // A Windows-style directory separator works too.
    id = e.load_module(".\\good_module" VANTREL_MODULE_SUFFIX);
    ASSERT_GT(id, 0) << platform_library_error();
    EXPECT_EQ(e.free_module(id), 0);
    // An absolute directory is still taken below the current directory.
    std::string here = std::filesystem::current_path().generic_string();
    EXPECT_EQ(e.load_module((here + "/good_module" VANTREL_MODULE_SUFFIX).c_str()), -1);
}

// A module path is never cut: where the system allows, one longer than the
// old 260 characters loads from where it says; one beyond the system's limit
// is refused as it is.
TEST_F(engine_test, long_module_paths_load_whole_or_are_refused)
{
    cycle_engine e;
    e.init();
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

TEST_F(engine_test, incomplete_or_missing_libraries_leave_nothing_loaded)
{
    cycle_engine e;
    e.init();
    EXPECT_EQ(e.load_module("half_module" VANTREL_MODULE_SUFFIX), -1);
    EXPECT_FALSE(platform_library_loaded("./half_module" VANTREL_MODULE_SUFFIX));
    EXPECT_EQ(e.load_module("no_such_module" VANTREL_MODULE_SUFFIX), -1);
    EXPECT_EQ(e.load_module(nullptr), -1);
    EXPECT_EQ(e.modules.count, 0);
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
