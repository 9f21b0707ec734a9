#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <initializer_list>
#include <string>

#include "base_script/script_func.h"
#include "base_script/script_var.h"
#include "kdbase/mem_collector.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

class script_func_test : public vantrel_test::log_test {};

// What the called functions saw.
float got_v[4];
float* got_p;
std::string got_text;

void set_vector(float* out, float x, float y, float z, float w)
{
    got_p = out;
    out[0] = got_v[0] = x;
    out[1] = got_v[1] = y;
    out[2] = got_v[2] = z;
    out[3] = got_v[3] = w;
}

void log_format(int priority, const char* format, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, format);
    int n = snprintf(buf, sizeof buf, "%d:", priority);
    vsnprintf(buf + n, sizeof buf - (size_t)n, format, ap);
    va_end(ap);
    got_text = buf;
}

int three(int a, int b, int c)
{
    return a * 100 + b * 10 + c;
}

float half(float x)
{
    return x / 2;
}

const char* pick(const char* a, const char* b, int which)
{
    return which ? b : a;
}

intptr_t echo_word(intptr_t w)
{
    return w;
}

// Binds the arguments the way the script language does: each evaluated into
// a variable typed by the signature letter, its first word passed.
void bind(va_func& f, std::initializer_list<r_var*> vars)
{
    f.nargs = 0;
    for (r_var* v : vars) {
        f.args[f.nargs] = (intptr_t)v->word(0);
        f.arg_types[f.nargs++] = v->type;
    }
}

TEST_F(script_func_test, floats_arrive_as_floats_and_variadic_tails_promoted)
{
    script_func sv("set_vector", set_vector, "v=Fffff");
    float out[4] = {0}, want[4] = {1.5f, -2.25f, 1e-3f, 3e7f};
    r_var p("__func_arg__", out);
    r_var x("__func_arg__", want[0]), y("__func_arg__", want[1]), z("__func_arg__", want[2]), w("__func_arg__", want[3]);
    bind(sv, {&p, &x, &y, &z, &w});
    EXPECT_EQ(sv.call(), 0);
    EXPECT_EQ(got_p, out);
    EXPECT_EQ(memcmp(out, want, sizeof out), 0);
    // A variadic tail gets promoted floats, ints and texts.
    script_func g("slog", log_format, "v=is*");
    r_var pri("a", 4), fmt("a", "%d %s %.2f %d"), i("a", -7), s("a", "word"), f("a", 2.5f), last("a", 9);
    bind(g, {&pri, &fmt, &i, &s, &f, &last});
    EXPECT_EQ(g.call(), 0);
    EXPECT_EQ(got_text, "4:-7 word 2.50 9");
}

TEST_F(script_func_test, results_and_argument_order)
{
    va_func f(VA_STDCALL);
    f.func = reinterpret_cast<va_function_t>(reinterpret_cast<void (*)()>(three));
    f.result = 'i';
    f.nargs = 3;
    for (int k = 0; k < 3; ++k)
        f.args[k] = k + 1;
    EXPECT_EQ(f.call(), 123);

    script_func h("half", half, "f=f");
    r_var x("x", 5.0f);
    bind(h, {&x});
    EXPECT_EQ(h.call(), 0);
    EXPECT_EQ(h.f_result, 2.5f);

    script_func p("pick", pick, "s=ssi");
    r_var first("a", "first"), second("b", "second"), one("i", 1);
    bind(p, {&first, &second, &one});
    EXPECT_EQ(p.call(), (intptr_t)second.word(0));

    // Without types the words pass whole, 64 bits included.
    va_func e;
    e.func = reinterpret_cast<va_function_t>(reinterpret_cast<void (*)()>(echo_word));
    e.nargs = 1;
    e.args[0] = (intptr_t)0x123456789abcLL;
    EXPECT_EQ(e.call(), (intptr_t)0x123456789abcLL);
    // Refused calls.
    f.method = 2;
    EXPECT_EQ(f.call(), 0);  // unknown method: not called
    f.method = VA_CDECL;
    f.nargs = 33;
    EXPECT_EQ(f.call(), -1);
    EXPECT_TRUE(log_has("va_func::call(): 33 arguments"));
}

// ---- script objects -----------------------------------------------------------

class camera_t : public script_var {
public:
    r_var width, height;
    r_var matrix_v;
    float matrix[16];

    camera_t() : matrix() { reset(); }
    void reset()
    {
        empty();
        width.set(0, 640);
        height.set(0, 480);
        matrix_v.set_storage(matrix, sizeof matrix);
        make_visible();
    }
    void make_visible()
    {
        stride = (int)sizeof(camera_t);
        add(&width, "width", r_int, 1);
        add(&height, "height", r_int, 1);
        add(&matrix_v, "matrix", r_float, 16);
    }
};

class script_var_test : public vantrel_test::log_test {};

TEST_F(script_var_test, object_is_a_variable_pointing_at_its_members)
{
    camera_t cams[3];
    camera_t& cam = cams[0];
    EXPECT_EQ(cam.type, r_struct_p);
    EXPECT_EQ(cam.rsp_value(), static_cast<r_struct*>(&cam));
    EXPECT_EQ(cam["height"]->value(), 480);
    EXPECT_EQ(cam.size(), 4 + 4 + 64);
    EXPECT_EQ(cam.get_var("depth"), nullptr);
    // Published in a scope under its own name; found, it gives its members.
    cam.r_var::name = "camera";
    r_struct scope(false);
    EXPECT_EQ(scope.add(&cam), 0);
    ASSERT_EQ(scope.get_var("camera"), static_cast<r_var*>(&cam));
    EXPECT_EQ(scope.get_var("camera")->rsp_value()->get_var("width"), &cam.width);
    EXPECT_EQ(scope.size(), cam.size());
    // Array elements step by the stride; a plain object is no array.
    EXPECT_EQ(cam.get_array_element(2), static_cast<script_var*>(&cams[2]));
    EXPECT_EQ(cam.get_array_element(0), static_cast<script_var*>(&cam));
    script_var plain;
    EXPECT_EQ(plain.get_array_element(5), &plain);
    EXPECT_EQ(plain[0], plain.r_var::operator[](0));

    // A duplicate member is thrown.
    r_var extra;
    try {
        cam.add(&extra, "width", r_int, 1);
        ADD_FAILURE() << "no exception";
    } catch (r_var* thrown) {
        EXPECT_EQ(thrown, &extra);
    }
    EXPECT_EQ(cam.list.count, 3);
}

TEST_F(script_var_test, members_need_room_and_republish_without_leaks)
{
    camera_t cam;
    r_var small;
    EXPECT_EQ(cam.add(&small, "many", r_float, 4), -1);
    EXPECT_TRUE(log_has("script_var::add(): many has no room for 4 elements"));
    EXPECT_EQ(cam.get_var("many"), nullptr);
    // A failed insert is a plain failure, not a duplicate.
    r_var one;
    mc_fail_after(1);
    EXPECT_EQ(cam.add(&one, "one", r_int, 1), -1);
    mc_fail_after(-1);
    EXPECT_TRUE(log_has("script_var::add(): unable to add one"));
    EXPECT_EQ(cam.get_var("one"), nullptr);
    mc_fail_after(0);
    EXPECT_EQ(cam.add(&one, "two", r_int, 1), -1);
    mc_fail_after(-1);
    EXPECT_TRUE(log_has("script_var::add(): unable to copy the name two"));
    EXPECT_EQ(cam.get_var("two"), nullptr);
    // Republishing frees the names it made.
    cam.reset();
    cam.reset();
    EXPECT_EQ(cam.list.count, 3);
    EXPECT_EQ(cam.width.value(), 640);
    cam.empty();
    EXPECT_EQ(cam.list.count, 0);
    EXPECT_STREQ(cam.width.name, "__noname");
    EXPECT_FALSE(cam.width.owns_name);
}

}  // namespace
