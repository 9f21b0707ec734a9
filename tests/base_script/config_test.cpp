#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base_script/script_sets.h"
#include "config_helpers.h"
#include "kdbase/str_const.h"

using namespace vantrel;
using vantrel_test::thing_t;

namespace {

class config_test : public vantrel_test::config_test_base {
protected:
    r_var *a = nullptr, *b = nullptr, *i = nullptr, *x = nullptr, *f = nullptr;
    thing_t thing{"thing"};
    void SetUp() override
    {
        config_test_base::SetUp();
        a = share("a", r_int, 4);
        b = share("b", r_int, 4);
        i = share("i", r_int);
        x = share("x", r_int);
        f = share("f", r_float);
        i->set(0, 3);
        for (int k = 0; k < 4; ++k)
            b->set(k, 10 + k);
        scope.add(&thing);
    }
};

TEST_F(config_test, assignments_member_paths_and_array_members)
{
    EXPECT_EQ(run("a = 5\n"), 0);
    EXPECT_EQ(a->value(0), 5);
    EXPECT_EQ(run("a = b = 5\n"), 0);
    EXPECT_EQ(a->value(0), 5);
    EXPECT_EQ(b->value(0), 5);
    b->set(0, 10);
    EXPECT_EQ(run("a = x = 7\n"), 0);
    EXPECT_EQ(a->value(0), 7);
    EXPECT_EQ(x->value(0), 7);
    EXPECT_EQ(run("a[3] = b[1]\n"), 0);
    EXPECT_EQ(a->value(3), 11);
    EXPECT_EQ(run("a[i] = 1\n"), 0);
    EXPECT_EQ(a->value(3), 1);
    EXPECT_EQ(run("a[b[0]] = 2\n"), 2);
    EXPECT_TRUE(log_has("tried to read element 10: a only has 4 elements"));
    EXPECT_EQ(run("f = -1.5e2\n"), 0);
    EXPECT_FLOAT_EQ(f->f_value(0), -150.0f);
    // No hexadecimal: "0x10" reads as the number 0 and the name x10.
    EXPECT_EQ(run("x = 0x10\n"), 2);
    EXPECT_TRUE(log_has("x10 was not found"));
    EXPECT_EQ(run("thing.i = 7\nthing.v[2] = 1.5\nthing.v[1] = thing.v[2]\nthing.s = \"hello world\"\n"), 0);
    EXPECT_EQ(thing.i.value(0), 7);
    EXPECT_FLOAT_EQ(thing.vec[2], 1.5f);
    EXPECT_FLOAT_EQ(thing.vec[1], 1.5f);
    EXPECT_STREQ(thing.s.str_value(0), "hello world");
    EXPECT_EQ(run("x = thing.i\n"), 0);
    EXPECT_EQ(x->value(0), 7);
    // An int literal is not a float: the published float refuses it.
    EXPECT_EQ(run("thing.v[0] = 1\n"), 2);
    EXPECT_TRUE(log_has("tried to set r_var v(r_float) to type r_int"));
    // "obj[k].member" steps by the class's stride from the object the variable
    // names, as through an array of engine objects, whatever the variable's count.
    thing_t row[3] = {thing_t{"row"}, thing_t{"row1"}, thing_t{"row2"}};
    scope.add(&row[0]);
    EXPECT_EQ(run("row[2].i = 7\nrow[1].v[3] = 2.5\nx = 1\nrow[x].i = row[2].i\n"), 0);
    EXPECT_EQ(row[2].i.value(0), 7);
    EXPECT_FLOAT_EQ(row[1].vec[3], 2.5f);
    EXPECT_EQ(row[1].i.value(0), 7);
    EXPECT_EQ(row[0].i.value(0), 0);
    // Without a stride the object is no array; a negative index never is.
    row[0].stride = 0;
    EXPECT_EQ(run("row[1].i = 1\n"), 2);
    EXPECT_TRUE(log_has("tried to read element 1: row is not an array of objects"));
    EXPECT_EQ(run("row[0].i = 4\nx = -1\nrow[x].i = 1\n"), 4);
    EXPECT_TRUE(log_has("tried to read element -1: row is not an array of objects"));
    EXPECT_EQ(row[0].i.value(0), 4);
    // Anything but a member after the index still keeps to the count.
    EXPECT_EQ(run("row[1] = 1\n"), 2);
    EXPECT_TRUE(log_has("tried to read element 1: row only has 1 elements"));
    scope.empty();
}

TEST_F(config_test, refused_statements)
{
    const char* cases[][2] = {
        {"nosuch = 1", "nosuch was not found"}, {"a.b = 1", "a is not a structure"},
        {"a->b = 1", "a is not a structure"}, {"a[2 = 1", "] was not found after 2"}, {"x(1)", "x is not a function"},
        {"a[4] = 1", "tried to read element 4: a only has 4 elements"}, {"a[-1] = 1", "-1 was not found"},
        {"thing.nosuch = 1", "nosuch was not found"}, {"a[", nullptr}, {"a = ", "assign(a): __noname is undefined"},
        {"- = 1", "- was not found"}, {"dc_add x 1", "dc_add: variable x is already shared"},
        {"dc_set missing 3", "dc_set: variable missing is not shared"},
        {"dc_set a", "config: dc_set does not take 1 arguments"},
        {"dc_add", "config: dc_add does not take 0 arguments"},
        {"include inner", "include: inner is not a quoted file name"},
        {"include \"\"", "unable to open file : No such file or directory"},
        {"include \"a\" \"b\"", "config: include does not take 2 arguments"},
    };
    for (auto& c : cases) {
        clear_log();
        EXPECT_EQ(run(std::string(c[0]) + "\n"), 2) << c[0];
        EXPECT_TRUE(!c[1] || log_has(c[1])) << c[0];
    }
    EXPECT_EQ(a->value(0), 0);
}

TEST_F(config_test, statement_numbers_count_every_line_and_included_file)
{
    EXPECT_EQ(run("a = 5 # five\n\n# only a comment\nnosuch = 1\na = 6\n"), 5);
    EXPECT_EQ(a->value(0), 5);
    EXPECT_EQ(run("=\n= 5\n"), 3);
    EXPECT_TRUE(log_has("config: = does not take 1 arguments"));
    // A block without a final newline is refused.
    d_list args(1), tokens(1);
    cfg.scope = &scope;
    ASSERT_EQ(cfg.tokenize_line("a = 1\na = 2", &tokens), 0);
    EXPECT_EQ(cfg.process(&args, &tokens), -1);
    EXPECT_TRUE(log_has("_tokens has no __newline"));
    EXPECT_EQ(a->value(0), 1);
    // include runs a file in the block.
    std::string inner = write_file("inner.ds", ". config\nb = 4\n./config\n");
    EXPECT_EQ(run("a = 1\ninclude \"" + inner + "\"\na = b\n"), 0);
    EXPECT_EQ(a->value(0), 4);
    std::string bad = write_file("bad.ds", ". config\n\nnosuch = 1\n./config\n");
    EXPECT_EQ(run("a = 2\ninclude \"" + bad + "\"\na = 3\n", "outer.ds"), 3);
    EXPECT_TRUE(log_has(bad + " (3): error running script"));
    EXPECT_TRUE(log_has(path("outer.ds") + " (3): error running script"));
    EXPECT_EQ(a->value(0), 2);
}

TEST_F(config_test, declarations_references_and_pointers)
{
    static const str_const_t types[] = {{"r_float", r_float}, {"r_struct_p", r_struct_p}, {"r_var_p", r_var_p},
                                        {"", -1}};
    add_const_a(types);
    EXPECT_EQ(run("dc_add speed\ndc_add rate 1.5\ndc_add title hello\ndc_add n 2 r_float\ndc_add q \"a b\"\n"), 0);
    r_var* speed = scope.get_var("speed");
    ASSERT_NE(speed, nullptr);
    EXPECT_EQ(speed->type, r_undefined);
    EXPECT_FLOAT_EQ(scope.get_var("rate")->f_value(0), 1.5f);
    EXPECT_STREQ(scope.get_var("title")->str_value(0), "hello");
    r_var* n = scope.get_var("n");
    EXPECT_EQ(n->type, r_float);
    EXPECT_EQ(n->word(0), 2u);
    EXPECT_STREQ(scope.get_var("q")->str_value(0), "\"a b\"");
    EXPECT_EQ(store_count(), 5);

    EXPECT_EQ(run("dc_set x 42\ndc_set rate 2.5\n"), 0);
    EXPECT_EQ(x->value(0), 42);
    EXPECT_FLOAT_EQ(scope.get_var("rate")->f_value(0), 2.5f);
    // A value of the wrong type is refused by the variable, and the block goes on.
    EXPECT_EQ(run("dc_set x 1.5\nx = 9\n"), 0);
    EXPECT_TRUE(log_has("tried to set r_var x(r_int) to type r_float"));
    EXPECT_EQ(x->value(0), 9);
    // Retyping a text to a pointer type gives up the text instead of following it.
    EXPECT_EQ(run("dc_add p hello r_var_p\n"), 0);
    EXPECT_EQ(scope.get_var("p")->type, r_var_p);
    EXPECT_EQ(scope.get_var("p")->word(0), 0u);
    // An unknown type name gives the type -1.
    EXPECT_EQ(run("dc_add w 1 no_such_type\n"), 0);
    EXPECT_TRUE(log_has("did not find the constant named no_such_type"));
    // References through declared pointers.
    EXPECT_EQ(run("dc_add ref 0 r_var_p\nref = %thing\nref->i = 9\n"), 0);
    EXPECT_EQ(thing.i.value(0), 9);
    EXPECT_EQ(run("ref = %a\nref->i = 1\n"), 3);
    EXPECT_TRUE(log_has("ref is not a structure"));
    EXPECT_EQ(run("dc_add nul 0 r_var_p\nnul->i = 1\n"), 3);
    EXPECT_TRUE(log_has("nul has a NULL structure"));
}

}  // namespace
