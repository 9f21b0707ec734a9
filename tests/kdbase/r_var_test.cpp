#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/r_struct.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

class r_var_test : public vantrel_test::log_test {};

// An array variable of n elements, freed with the test.
std::unique_ptr<r_var> array(const char* name, int n)
{
    return std::unique_ptr<r_var>(create_r_var(name, n));
}

TEST_F(r_var_test, words_read_narrow_and_pointers_keep_64_bits)
{
    r_var v("level", (unsigned char)7);
    EXPECT_EQ(v.set(0x1234), 0);
    EXPECT_EQ(v.type, r_uchar8);
    EXPECT_EQ(v.uc_value(), 0x34);
    EXPECT_EQ(v.value(), 0x1234);
    r_var c("c", (char)-3);
    EXPECT_EQ(c.value(), -3);  // sign-extended word
    c.set(0x1ff);
    EXPECT_EQ(c.c_value(), -1);
    r_var s("s", (unsigned short)0xfffe), u("u", 4000000000u);
    EXPECT_EQ(s.us_value(), 0xfffe);
    EXPECT_EQ(u.ui_value(), 4000000000u);
    EXPECT_TRUE(log_lines().empty());
    // Pointer elements keep full 64-bit values.
    auto p = array("ptrs", 3);
    int a = 0, b = 0;
    int* ptrs[3] = {&a, &b, reinterpret_cast<int*>(uintptr_t(0x7fff12345678abcdULL))};
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(p->set(k, ptrs[k]), 0);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(p->ip_value(k), ptrs[k]);
    EXPECT_EQ(p->size(), 12);  // 4 per pointer element on the wire
}

TEST_F(r_var_test, refused_types_and_elements_leave_the_value_and_log)
{
    r_var v("speed", 5);
    EXPECT_EQ(v.set(1.5f), -1);
    EXPECT_EQ(v.value(), 5);
    EXPECT_TRUE(log_has("tried to set r_var speed(r_int) to type r_float"));
    // A float is not of the integer family: reading it as int fails.
    r_var f("f", 2.5f);
    EXPECT_EQ(f.value(), 0);
    EXPECT_TRUE(log_has("f used with invalid type"));
    EXPECT_EQ(f.set(3), -1);
    EXPECT_FLOAT_EQ(f.f_value(), 2.5f);

    auto p = array("pair", 2);
    EXPECT_EQ(p->set(1, 9), 0);
    EXPECT_EQ(p->set(2, 5), -1);
    EXPECT_TRUE(log_has("tried to set element 2: pair only has 2 elements"));
    EXPECT_EQ(p->set(-1, 5), -1);
    EXPECT_EQ(p->value(2), 0);
    EXPECT_TRUE(log_has("tried to read element 2: pair only has 2 elements"));
    EXPECT_EQ(p->value(1), 9);
    EXPECT_EQ(p->set(0, "x"), -1);
    EXPECT_TRUE(log_has("tried to set r_var pair to type r_string"));
}

TEST_F(r_var_test, published_storage_is_the_objects_and_never_a_temporary)
{
    float matrix[16] = {0};
    r_var m("matrix");
    m.set_storage(matrix, sizeof matrix);
    m.type = r_float;
    m.count = 16;
    EXPECT_EQ(m.set(12, 3.5f), 0);
    EXPECT_FLOAT_EQ(matrix[12], 3.5f);
    matrix[13] = -1.25f;
    EXPECT_FLOAT_EQ(m.f_value(13), -1.25f);
    EXPECT_EQ(m[12], static_cast<void*>(&matrix[12]));
    // The array has no room for 16 pointers: a pointer-typed copy is refused.
    auto p = array("p", 16);
    p->set(0, (void*)nullptr);
    EXPECT_EQ(m.copy(p.get()), -1);
    EXPECT_EQ(m.type, r_float);
    // An r_char_p element given a text that dies (a statement's temporary, a
    // message buffer) points at a copy of its own; the sanitizer build sees any
    // read of the dead text or write past a kept copy.
    char* field = nullptr;  // an engine object's published char*
    r_var title("title", r_char_p), other("other", r_char_p), copied("copied");
    title.set_storage(&field, sizeof field);
    title.type = r_char_p;
    EXPECT_EQ(set_r_var_value(&title, std::string("from text").c_str()), 0);  // as dc_set
    EXPECT_STREQ(field, "from text");
    {
        r_var statement_value("__noname", "assigned");  // as 'title = "assigned"'
        EXPECT_EQ(title.assign(&statement_value), 0);
    }
    // Variables given a kept text keep copies of their own.
    EXPECT_EQ(other.assign(&title), 0);
    EXPECT_EQ(copied.copy(&title), 0);
    EXPECT_EQ(set_r_var_value(&title, "replaced"), 0);
    EXPECT_STREQ(other.str_value(), "assigned");
    EXPECT_STREQ(copied.str_value(), "assigned");
    // A longer text unpacked into a kept one replaces it, never overruns it.
    r_struct rs(false);
    rs.add(&title);
    char packed[] = "a text much longer than the kept one";
    EXPECT_EQ(rs.unpack(packed, sizeof packed), (int)sizeof packed);
    EXPECT_STREQ(field, packed);
    rs.empty();
    // A pointer the engine sets is shared again; the kept copy is given up.
    char own[] = "own";
    EXPECT_EQ(title.set(own), 0);
    EXPECT_FALSE(title.keeps_text(0));
    mc_fail_after(0);
    EXPECT_EQ(other.keep(0, "lost"), -1);
    mc_fail_after(-1);
    EXPECT_STREQ(other.str_value(), "assigned");
}

TEST_F(r_var_test, string_ownership_differs_between_r_string_and_r_char_p)
{
    char buf[] = "shared";
    r_var owned("o", (const char*)buf);
    EXPECT_EQ(owned.type, r_string);
    EXPECT_NE(owned.str_value(), buf);
    EXPECT_EQ(owned.set(0, owned.str_value()), 0);  // own text into itself
    EXPECT_STREQ(owned.str_value(), "shared");
    EXPECT_EQ(owned.set(0, (const char*)nullptr), 0);
    EXPECT_EQ(owned.str_value(), nullptr);
    mc_fail_after(0);
    EXPECT_EQ(owned.set(0, "lost"), -1);
    mc_fail_after(-1);
    EXPECT_TRUE(log_has("r_var::set(): unable to copy the text of o"));

    r_var ref("r", r_char_p);
    EXPECT_EQ(ref.set(buf), 0);
    buf[0] = 'S';
    EXPECT_EQ(ref.str_value(), buf);

    // The size of a text array counts the non-null texts; deleting it frees
    // "ab" and "" (the sanitizer build checks).
    auto v = array("texts", 3);
    EXPECT_EQ(v->set(0, "ab") | v->set(1, (const char*)nullptr) | v->set(2, ""), 0);
    EXPECT_EQ(v->size(), 4);
}

TEST_F(r_var_test, copy_takes_name_type_and_texts_and_assign_follows_the_source)
{
    auto src = array("names", 2), dst = array("other", 2), nums = array("nums", 2), three = array("three", 3);
    src->set(0, "one");
    src->set(1, "two");
    dst->set(0, 1);
    EXPECT_EQ(dst->copy(src.get()), 0);
    EXPECT_EQ(dst->name, src->name);
    EXPECT_EQ(dst->type, r_string);
    EXPECT_STREQ(dst->str_value(1), "two");
    EXPECT_NE(dst->str_value(1), src->str_value(1));
    EXPECT_TRUE(*dst == *src);
    // An r_string destination replaces its own texts.
    src->set(0, "uno");
    EXPECT_EQ(dst->copy(src.get()), 0);
    EXPECT_STREQ(dst->str_value(0), "uno");
    // Back to a word type: the texts it owned are released.
    nums->set(1, 42);
    EXPECT_EQ(dst->copy(nums.get()), 0);
    EXPECT_EQ(dst->type, r_int);
    EXPECT_EQ(dst->copy(three.get()), -1);
    EXPECT_TRUE(log_has("r_var::copy(): trying to copy two r_var arrays of different sizes"));
    EXPECT_EQ(dst->value(1), 42);
    // assign follows the source type.
    r_var i("i", 7), undef("u"), small("b", (unsigned char)1), f("f", 1.5f), text("t", "hello"), s("s");
    EXPECT_EQ(undef.assign(&i), 0);
    EXPECT_EQ(undef.type, r_int);
    EXPECT_EQ(undef.value(), 7);
    EXPECT_EQ(small.assign(&i), 0);  // integer family accepts an r_int source
    EXPECT_EQ(small.type, r_uchar8);
    EXPECT_EQ(small.uc_value(), 7);
    EXPECT_EQ(i.assign(&f), -1);
    EXPECT_TRUE(log_has("tried to set r_var i(r_int) to type r_float"));
    EXPECT_EQ(s.assign(&text), 0);
    EXPECT_EQ(s.type, r_string);
    EXPECT_NE(s.str_value(), text.str_value());
    EXPECT_STREQ(s.str_value(), "hello");

    char buf[] = "buf";
    r_var cp("cp", r_char_p);
    cp.set(buf);
    EXPECT_EQ(s.assign(&cp), 0);  // the owned text is released, the pointer shared
    EXPECT_EQ(s.type, r_char_p);
    EXPECT_EQ(s.str_value(), buf);
    // An int array turned into texts keeps no int word as a text pointer.
    auto words = array("words", 3);
    for (int k = 0; k < 3; ++k)
        words->set(k, 0x11111111 * (k + 1));
    EXPECT_EQ(words->assign(0, &cp, 0), 0);
    EXPECT_EQ(words->str_value(0), buf);
    EXPECT_EQ(words->str_value(1), nullptr);
    EXPECT_EQ(words->str_value(2), nullptr);

    r_var none("none"), one("one", 0);
    EXPECT_EQ(i.assign(&none), -1);
    EXPECT_TRUE(log_has("assign(i): none is undefined"));
    auto arr = array("arr", 3);
    arr->set(2, 11);
    EXPECT_EQ(one.assign(0, arr.get(), 2), 0);
    EXPECT_EQ(one.value(), 11);
    EXPECT_EQ(one.assign(0, arr.get(), 3), -1);
}

TEST_F(r_var_test, values_from_text)
{
    const struct {
        const char* text;
        r_type type;
    } shapes[] = {{"1.5e3", r_float}, {"1.2.3", r_string}, {"-12", r_int}, {"", r_int},
                  {"abc", r_string},  {"x", r_int},        {"0x10", r_int}, {".5", r_float}};
    for (auto& c : shapes)
        EXPECT_EQ(get_valstr_type(c.text), c.type) << c.text;
    r_var i("i"), n("n"), f("f"), s("s");
    EXPECT_EQ(set_r_var_value(&i, "0x10") | set_r_var_value(&n, "-12") | set_r_var_value(&f, "1.5e3"), 0);
    EXPECT_EQ(i.value(), 0);
    EXPECT_FLOAT_EQ(f.f_value(), 1500.0f);
    EXPECT_EQ(set_r_var_value(&s, "inf"), 0);  // no special float words: a text
    EXPECT_STREQ(s.str_value(), "inf");
    EXPECT_EQ(set_r_var_value(&n, "2.5"), -1);  // an r_int refuses a float
    EXPECT_EQ(n.value(), -12);
}

TEST_F(r_var_test, creation_and_deletion_helpers)
{
    mc_fail_after(0);
    EXPECT_EQ(create_r_var("a", 4), nullptr);
    EXPECT_TRUE(log_has("create_r_var(): unable to create var buffer"));
    mc_fail_after(1);
    EXPECT_EQ(create_r_var("a", 4), nullptr);  // the block is released again
    mc_fail_after(1);
    EXPECT_EQ(alloc_r_var("n"), nullptr);
    EXPECT_TRUE(log_has("alloc_r_var(): unable to allocate r_var name"));
    mc_fail_after(-1);

    char name[] = "dynamic";
    r_var* v = alloc_r_var(name);
    ASSERT_NE(v, nullptr);
    EXPECT_NE(v->name, name);
    EXPECT_STREQ(v->name, "dynamic");
    delete_r_var(v, true);
    delete_r_var(create_r_var("literal", 1), true);  // a literal name is never freed
    d_list l(0);
    l.insert(static_cast<unknown*>(alloc_r_var("a")));
    l.insert(static_cast<unknown*>(alloc_r_var("b")));
    delete_r_var_l(&l, true);
    EXPECT_EQ(l.count, 0);
}

// ---- r_struct -----------------------------------------------------------------

class r_struct_test : public vantrel_test::log_test {};

TEST_F(r_struct_test, names_are_unique_and_failed_inserts_delete_the_variable)
{
    r_struct s;
    EXPECT_EQ(s.add("speed", 5), 0);
    EXPECT_EQ(s.add("speed", 1.0f), -1);
    EXPECT_TRUE(log_has("r_struct::_add_var(): speed is already part of the structure"));
    EXPECT_EQ(s.get_var("speed")->value(), 5);
    r_var* dup = alloc_r_var("speed");
    EXPECT_EQ(s.add(dup), -1);
    EXPECT_TRUE(log_has("add(r_var *): r_var speed already exist"));
    delete_r_var(dup, true);
    EXPECT_EQ(s.get_var("spee"), nullptr);

    mc_fail_after(0);
    EXPECT_EQ(s.add("a", 1), -1);
    EXPECT_TRUE(log_has("r_struct::_add_var(): unable to create r_var a"));
    mc_fail_after(1);
    EXPECT_EQ(s.add("a", 1), -1);
    EXPECT_TRUE(log_has("r_struct::_add_var(): unable to add r_var a"));
    clear_log();
    mc_fail_after(1);  // the copy of the text
    EXPECT_EQ(s.add("t", "text"), -1);
    EXPECT_TRUE(log_has("r_struct::_add_var(): unable to create r_var t"));
    mc_fail_after(-1);
    EXPECT_EQ(s.list.count, 1);
}

TEST_F(r_struct_test, copy_builds_fresh_variables_and_references_stay_alive)
{
    r_struct src, dst;
    src.add("a", 1);
    src.add("t", "text");
    r_var* arr = create_r_var("arr", 3);
    arr->set(2, 2.5f);
    src.add(arr);
    dst.add("old", 9);
    EXPECT_EQ(dst.copy(&src), 0);
    EXPECT_EQ(dst.list.count, 3);
    EXPECT_EQ(dst.get_var("old"), nullptr);
    EXPECT_NE(dst.get_var("t")->str_value(), src.get_var("t")->str_value());
    EXPECT_FLOAT_EQ(dst.get_var("arr")->f_value(2), 2.5f);
    EXPECT_EQ(dst.size(), src.size());
    EXPECT_EQ(dst.copy(&dst), 0);
    EXPECT_EQ(dst.list.count, 3);
    r_struct refs(false);
    EXPECT_EQ(refs.copy(&src), -1);
    // A structure that does not own its variables leaves them alive.
    r_var a("a", 1);
    {
        r_struct s(false);
        EXPECT_EQ(s.add(&a), 0);
        s.empty();
        EXPECT_EQ(s.list.count, 0);
        s.add(&a);
    }
    EXPECT_EQ(a.value(), 1);
}

TEST_F(r_struct_test, missing_member_through_brackets_is_fatal)
{
    r_struct s;
    s.add("here", 1);
    EXPECT_EXIT(s["gone"], ::testing::ExitedWithCode(1), "");
}

}  // namespace
