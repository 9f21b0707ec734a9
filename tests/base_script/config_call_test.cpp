#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base_script/script_sets.h"
#include "config_helpers.h"
#include "kdbase/kdbase_math.h"

using namespace vantrel;
using vantrel_test::thing_t;

namespace {

// What the test functions saw.
std::vector<std::string> seen;

int two_ints(int p, int q)
{
    seen.push_back(std::to_string(p) + "," + std::to_string(q));
    return p + q;
}

int open_tail(int n, const char* s, ...)
{
    seen.push_back(std::to_string(n) + s);
    return 0;
}

int fails()
{
    return -1;
}

script_func two_ints_f("f", two_ints, "i=ii");
script_func open_tail_f("tail", open_tail, "v=is*");
script_func fails_f("fails", fails, "i=");

// A renderer module stand-in with one camera that a script function finds.
class camera_t : public script_var {
public:
    r_var fov;
    camera_t()
    {
        name = "camera";
        stride = sizeof(camera_t);
        fov.set(0, 0.5f);
        add(&fov, "fov", r_float, 1);
    }
};

class module_t : public script_var {
public:
    camera_t cam;
    module_t()
    {
        name = "morvane";
        stride = sizeof(module_t);
    }
};

int get_camera(r_struct* s, int i, r_struct* out)
{
    if (!out || i != 0)
        return -1;
    *reinterpret_cast<r_struct**>(out) = &static_cast<module_t*>(static_cast<script_var*>(s))->cam;
    return 0;
}

script_func get_camera_f("get_camera", get_camera, "i=SiS");

class config_call_test : public vantrel_test::config_test_base {
protected:
    thing_t thing{"thing"};
    r_var* len = nullptr;
    void SetUp() override
    {
        config_test_base::SetUp();
        seen.clear();
        scope.add(&thing);
        len = share("len", r_float);
        for (script_func* f : {&two_ints_f, &open_tail_f, &fails_f})
            scope.add(f);
        ASSERT_EQ(errorlog_add_funcs(scope), 0);
        ASSERT_EQ(support_add_funcs(scope), 0);
    }
};

int first_int(int* p) { return *p; }
int var_count(r_var* v) { return (int)v->count; }
script_func first_int_f("first_int", first_int, "i=I");
script_func var_count_f("var_count", var_count, "i=V");

// Every pointer argument has a known room: where a script took the address,
// what it assigned to a pointer variable, or the vector a function returned.
// The arrays live in blocks of their own, so the sanitizer build sees any
// access past them.
TEST_F(config_call_test, pointer_arguments_need_a_known_room)
{
    r_var* m16 = share("m16", r_float, 16);
    share("vec", r_float, 4);
    share("fp", r_float_p);
    r_var* engine_p = share("engine_p", r_float_p);
    float engine_array[16] = {};
    engine_p->set(0, engine_array);
    scope.add(&first_int_f);
    scope.add(&var_count_f);
    ASSERT_EQ(run("dc_add p 0 r_float_p\ndc_add q 0 r_float_p\ndc_add ip 0 r_int_p\ndc_add rv 0 r_var_p\n"), 0);
    // Lines ending in the call, and the refusal (null: the call is made).
    const char* cases[][2] = {
        {"makeIdentityMatrix(p)", "makeIdentityMatrix: argument 1 is a null pointer"},
        {"len = len_v(,)", "len_v: argument 1 is a null pointer"},
        {"set_v(, 1.0, 2.0, 3.0, 4.0)", "set_v: argument 1 is a null pointer"},
        {"thing.i = first_int(ip)", "first_int: argument 1 is a null pointer"},
        {"thing.i = var_count(rv)", "var_count: argument 1 is a null pointer"},
        {"p = &vec\nmakeIdentityMatrix(p)", "makeIdentityMatrix: argument 1 points at 4 element(s), a matrix needs 16"},
        {"p = &vec[3]\nset_v(p, 1.0, 2.0, 3.0, 4.0)", "set_v: argument 1 points at 1 element(s), a vector needs 4"},
        {"makeIdentityMatrix(add_vr(&vec, &vec, &vec))", "makeIdentityMatrix: argument 1 points at 4 element(s)"},
        {"makeIdentityMatrix(engine_p)", "makeIdentityMatrix: argument 1 points at memory of unknown size"},
        {"multmatrix_v(&m16, &vec)", "multmatrix_v: argument 2 points at 4 element(s), a matrix needs 16"},
        {"make_translate_m(&m16[1], 1.0, 2.0, 3.0)", "make_translate_m: argument 1 points at 15 element(s)"},
        {"copy_m(&m16, &thing.v)", "copy_m: argument 2 points at 4 element(s)"},
        {"orient_axes(&thing.v, &m16)", "orient_axes: argument 1 points at 4 element(s)"},
        // A vector argument of a matrix function takes the last row.
        {"multmatrix_vr(&m16[13], &m16, &m16[12])", "multmatrix_vr: argument 1 points at 3 element(s), a vector needs 4"},
        // The address of a pointer variable is one pointer word long.
        {"makeIdentityMatrix(&fp)", "makeIdentityMatrix: argument 1 points at 2 element(s)"},
        {"set_v(&fp, 1.0, 2.0, 3.0, 4.0)", "set_v: argument 1 points at 2 element(s)"},
        {"makeIdentityMatrix(&m16)\nmultmatrix_vr(&m16[12], &m16, &m16[12])", nullptr},
        {"p = &m16\nq = p\nmakeIdentityMatrix(q)", nullptr}, {"p = &vec\nlen = len_v(p)", nullptr},
        {"p = add_vr(&vec, &vec, &vec)\nset_v(p, 1.0, 2.0, 3.0, 4.0)", nullptr},
        {"thing.i = first_int(&thing.i)", nullptr}, {"thing.i = var_count(%m16)", nullptr},
        // A value computed by a nested call is not the address the call was given.
        {"multmatrix_vr(add_vr(&vec, &thing.v, &thing.v), &m16, &vec)", nullptr},
    };
    for (auto& c : cases) {
        std::string lines = std::string(c[0]) + "\n";
        int last = 1 + (int)std::count(lines.begin(), lines.end(), '\n');  // after ". config"
        EXPECT_EQ(run(lines), c[1] ? last : 0) << c[0];
        EXPECT_TRUE(!c[1] || log_has(c[1])) << c[0];
    }
    EXPECT_EQ(thing.i.value(0), 16);
    EXPECT_EQ(m16->f_value(15), 1.0f);
}

// Each call binds its own arguments: a call of the same function in its
// argument list leaves the outer call's words and texts alone.
TEST_F(config_call_test, calls_keep_their_arguments_when_nested_and_check_their_count)
{
    struct {
        const char* line;
        int i;
        std::vector<std::string> seen;
    } cases[] = {
        {"thing.i = f(100, f(20, 3))", 123, {"20,3", "100,23"}},
        {"tail(1, \"outer\", tail(2, \"inner\", tail(3, \"deep\")), \"last\")", 0, {"3deep", "2inner", "1outer"}},
    };
    for (const auto& c : cases) {
        seen.clear();
        thing.i.set(0, 0);
        EXPECT_EQ(run(std::string(c.line) + "\n"), 0) << c.line;
        EXPECT_EQ(thing.i.value(0), c.i) << c.line;
        EXPECT_EQ(seen, c.seen) << c.line;
    }
    clear_log();
    EXPECT_EQ(run("slog(3, \"a %d %s\", slog(3, \"b %s\", \"x\"), \"y\")\n"), 0);
    auto lines = log_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("] b x"), std::string::npos);
    EXPECT_NE(lines[1].find("] a 0 y"), std::string::npos);
    std::string many = "tail(1, \"a\"";
    for (int k = 0; k < 40; ++k)
        many += ", 1";
    const std::string refused[][2] = {
        {"set_v(&thing.v, 1.0)", "set_v does not take 2 arguments"}, {"f(1, 2", "missing ) in argument list of f"},
        {"f(1, 2, 3)", "f does not take 3 arguments"},                 {"f()", "f does not take 0 arguments"},
        {"tail(1)", "tail does not take 1 arguments"},                 {"fails()", "fails failed"},
        {many + ")", "tail does not take 33 arguments"},
    };
    for (auto& r : refused) {
        EXPECT_EQ(run(r[0] + "\n"), 2) << r[0];
        EXPECT_TRUE(log_has(r[1])) << r[0];
    }
    seen.clear();
    EXPECT_EQ(run("f(3, 4)\nthing.i = f(5, 6)\n"), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"3,4", "5,6"}));
    EXPECT_EQ(thing.i.value(0), 11);
    EXPECT_EQ(run("tail(1, \"a\")\ntail(2, \"b\", 3)\ntail(3, \"c\", 1.5, \"x\", 4)\n"), 0);
    EXPECT_EQ(seen.size(), 5u);
}

TEST_F(config_call_test, slog_formats_its_arguments)
{
    EXPECT_EQ(run("slog(get_const(\"EL_STATUS\"), \"ready: %s\", \"camera\")\n"), 0);
    EXPECT_TRUE(log_has("] ready: camera"));
    // Debug priorities carry the source: the script, line -1.
    EXPECT_EQ(run("slog(10, \"deep\")\n"), 0);
    EXPECT_TRUE(log_has(": *script*(-1)] deep"));
    EXPECT_EQ(run("slog(3, \"100%\")\nslog(3, \"%f and %d%%\", 1.5, 2)\nslog(3, \"%5.1f|\", 2.5)\n"), 0);
    EXPECT_TRUE(log_has("]   2.5|"));
    EXPECT_TRUE(log_has("] 100%"));
    EXPECT_TRUE(log_has("] 1.500000 and 2%"));
    // A conversion without a fitting argument is shown as written, never
    // guessed at; the line is kept and the complaint follows it.
    const char* mismatched[][2] = {
        {"slog(3, \"loaded 100% of the level\")", "] loaded 100% of the level"}, {"slog(3, \"%s\")", "] %s"},
        {"slog(3, \"%d and %s\", 1.5, \"x\")", "] %d and x"}, {"slog(3, \"%ld then %d\", 1, 2)", "] %ld then 2"},
        {"slog(3, \"%-5d|%9999d|%n\", 7, 8, 9)", "] 7    |%9999d|%n"},
    };
    for (auto& m : mismatched) {
        clear_log();
        EXPECT_EQ(run(std::string(m[0]) + "\n"), 0) << m[0];
        auto lines = log_lines();
        ASSERT_EQ(lines.size(), 2u) << m[0];
        EXPECT_EQ(lines[0].substr(lines[0].find("] ")), m[1]);
        EXPECT_NE(lines[1].find("slog: the arguments do not fit the format"), std::string::npos);
    }
    clear_log();
    EXPECT_EQ(run("slog(3, \"" + std::string(300, 'w') + "\")\n"), 0);
    auto lines = log_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().size() - (lines.back().find("] ") + 2), 255u);
    // A threshold from the script applies at once.
    EXPECT_EQ(run("set_log_priority(2)\nslog(3, \"hidden\")\nset_log_priority(10)\n"), 0);
    EXPECT_FALSE(log_has("hidden"));
}

TEST_F(config_call_test, cameras_through_a_declared_pointer)
{
    module_t morvane;
    scope.add(&morvane);
    scope.add(&get_camera_f);
    EXPECT_EQ(run("dc_add cam 0 r_struct_p\nget_camera(morvane, 0, &cam)\ncam->fov = 1.2\n"), 0);
    EXPECT_FLOAT_EQ(morvane.cam.fov.f_value(0), 1.2f);
    // The address of the holder is not a structure: it cannot be stored.
    EXPECT_EQ(run("dc_add other 0 r_struct_p\nother = &cam\nother->fov = 3.0\n"), 3);
    EXPECT_TRUE(log_has("the address of cam can only be passed to a function"));
    // "." looks inside the declared variable, which has no members.
    EXPECT_EQ(run("cam.fov = 2.0\n"), 2);
    EXPECT_TRUE(log_has("cam is not a structure"));
    EXPECT_EQ(run("get_camera(morvane, 5, &cam)\n"), 2);
    EXPECT_TRUE(log_has("get_camera failed"));
    scope.empty();
}

}  // namespace
