#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kdbase/d_list.h"
#include "kdbase/g_collector.h"
#include "kdbase/group.h"
#include "kdbase/mem_collector.h"
#include "kdbase/pointer.h"
#include "kdbase/s_token.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

// Records the order in which elements are destroyed.
std::vector<int> destroyed;
struct tracked : unknown {
    int id;
    explicit tracked(int i = 0) : id(i) {}
    ~tracked() override { destroyed.push_back(id); }
};

class list_test : public vantrel_test::log_test {
protected:
    void SetUp() override
    {
        log_test::SetUp();
        destroyed.clear();
    }
    void TearDown() override
    {
        mc_fail_after(-1);
        log_test::TearDown();
    }
    static void check_invariants(d_list& l)
    {
        int n = 0;
        d_node* prev = nullptr;
        for (d_node* node = l.first; node; node = node->next, ++n) {
            EXPECT_EQ(node->prev, prev);
            EXPECT_TRUE((node->object == nullptr) != (node->data == nullptr));
            prev = node;
        }
        EXPECT_EQ(n, l.count);
        EXPECT_EQ(l.last, prev);
        EXPECT_EQ(l.first == nullptr, l.count == 0);
    }
};

TEST_F(list_test, removal_keeps_the_links_and_misses_change_nothing)
{
    int a = 1, b = 2, c = 3, d = 4;
    d_list l(0);
    for (int* p : {&a, &b, &c, &d})
        ASSERT_EQ(l.insert(static_cast<void*>(p)), 0);
    EXPECT_EQ(l.remove(static_cast<void*>(&b)), &b);  // middle
    check_invariants(l);
    EXPECT_EQ(l.remove(static_cast<void*>(&a)), &a);  // head
    check_invariants(l);
    EXPECT_EQ(l.remove(static_cast<void*>(&d)), &d);  // tail
    check_invariants(l);
    EXPECT_EQ(l.remove(0), &c);  // only
    check_invariants(l);
    EXPECT_EQ(l.first, nullptr);
    EXPECT_EQ(l.last, nullptr);
    // Past the end or null changes nothing.
    l.insert(static_cast<void*>(&a));
    EXPECT_EQ(l.remove(1), nullptr);
    EXPECT_EQ(l.remove(static_cast<d_node*>(nullptr)), nullptr);
    EXPECT_EQ(l.remove(-1), nullptr);
    EXPECT_EQ(l.count, 1);

    // A null element matches nothing, not a node of the other kind.
    tracked t(1);
    l.insert(&t);
    EXPECT_EQ(l.get_node(static_cast<unknown*>(nullptr)), nullptr);
    EXPECT_EQ(l.get_node(static_cast<void*>(nullptr)), nullptr);
    EXPECT_EQ(l.remove(static_cast<unknown*>(nullptr)), nullptr);
    EXPECT_EQ(l.remove(static_cast<void*>(nullptr)), nullptr);
    EXPECT_EQ(l.count, 2);
}

TEST_F(list_test, owning_lists_delete_once_and_cat_shares)
{
    {
        d_list l(1);
        for (int i = 1; i <= 4; ++i)
            l.insert(KD_NEW tracked(i));
        EXPECT_EQ(l.remove(1), nullptr);  // owned: deleted, 0 returned
        EXPECT_EQ(destroyed, std::vector<int>({2}));
    }
    EXPECT_EQ(destroyed, std::vector<int>({2, 1, 3, 4}));
    // cat appends shared elements, and a list to itself once.
    tracked a(1), b(2);
    d_list l(0), m(0);
    l.insert(&a);
    m.insert(&b);
    int x = 5;
    m.insert(static_cast<void*>(&x));
    EXPECT_EQ(l.cat(&m), 0);
    EXPECT_EQ(l.count, 3);
    EXPECT_EQ(l.last->data, &x);
    EXPECT_EQ(m.count, 2);
    EXPECT_EQ(l.cat(&l), 0);
    EXPECT_EQ(l.count, 6);
    check_invariants(l);
}

TEST_F(list_test, failed_name_copy_falls_back_to_a_fixed_name)
{
    // Short names live in the token and need no allocation.
    s_token t("first");
    mc_fail_after(0);
    t.set_name("second");
    EXPECT_STREQ(t.name, "second");
    mc_fail_after(-1);
    t.set_name("a name too long to be kept in the token");
    mc_fail_after(0);
    t.set_name("another name too long for the token itself");
    EXPECT_STREQ(t.name, "out of memory");
    t.set_name("third");  // the fixed name is not freed (ASan would see it)
    EXPECT_STREQ(t.name, "third");
    t.set_name(t.name + 1);  // a part of its own name
    EXPECT_STREQ(t.name, "hird");
    t.set_name("a long name read back from itself, past the token's room");
    t.set_name(t.name + 2);
    EXPECT_STREQ(t.name, "long name read back from itself, past the token's room");
    mc_fail_after(-1);
    std::unique_ptr<char[]> cut(alloc_str("abcdef", 4)), whole(alloc_str("abc", -1));
    EXPECT_STREQ(cut.get(), "abc");  // max - 1 characters
    EXPECT_STREQ(whole.get(), "abc");
}

TEST_F(list_test, tokens_are_found_by_prefix_and_survive_failed_allocations)
{
    s_token t_if("if"), t_ifelse("ifelse");
    s_token* tokens[] = {&t_if, &t_ifelse, nullptr};
    EXPECT_EQ(get_token("ifelse", tokens), &t_if);
    s_token* reversed[] = {&t_ifelse, &t_if, nullptr};
    EXPECT_EQ(get_token("ifelse x", reversed), &t_ifelse);
    EXPECT_EQ(get_token("for", tokens), nullptr);

    d_list l(0);
    l.insert(&t_if);
    l.insert(&t_ifelse);
    EXPECT_EQ(get_token("ifelse", &l), &t_ifelse);
    EXPECT_EQ(get_token("i", &l), nullptr);
    // alloc_token survives a failure at every allocation.
    for (int fail = 0; fail < 2; ++fail) {
        clear_log();
        mc_fail_after(fail);
        EXPECT_EQ(alloc_token(8), nullptr);
        EXPECT_TRUE(log_has(fail == 0 ? "alloc_token(): unable to allocate token"
                                      : "alloc_token(): unable to allocate token string"));
        EXPECT_TRUE(log_has("allocation failed: tests/kdbase/") || log_has("allocation failed: kdbase/s_token.cpp"));
    }
    s_token* t = alloc_token(8);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->name, "");
    delete t;
}

// Lists share one pool of nodes: a freed node serves the next insertion, and
// lists longer than a block of the pool keep their order and links.
TEST_F(list_test, nodes_are_reused_and_long_lists_keep_their_order)
{
    d_list a(0), b(0);
    std::vector<intptr_t> want_a, want_b;
    for (intptr_t k = 1; k <= 5000; ++k) {
        ASSERT_EQ((k % 3 ? a : b).insert((void*)k), 0);
        (k % 3 ? want_a : want_b).push_back(k);
    }
    d_node* second = a.first->next;
    a.remove(second);
    want_a.erase(want_a.begin() + 1);
    ASSERT_EQ(b.insert((void*)(intptr_t)9999), 0);
    want_b.push_back(9999);
#if !defined(VANTREL_NODE_POOL) || VANTREL_NODE_POOL  // sanitizer builds allocate every node
    EXPECT_EQ(b.last, second);
#endif
    for (int k = 0; k < 1000; ++k) {
        a.remove(a.first);
        want_a.erase(want_a.begin());
    }
    for (auto [l, want] : {std::make_pair(&a, &want_a), std::make_pair(&b, &want_b)}) {
        check_invariants(*l);
        std::vector<intptr_t> got;
        for (d_node* n = l->first; n; n = n->next)
            got.push_back((intptr_t)n->data);
        EXPECT_EQ(got, *want);
    }
}

TEST_F(list_test, failed_allocations_in_lists_and_collectors_leave_nothing_behind)
{
    int a = 1, b = 2;
    d_list l(0);
    mc_fail_after(0);
    EXPECT_EQ(l.insert(static_cast<void*>(&a)), -1);
    EXPECT_EQ(l.count, 0);
    EXPECT_TRUE(log_has("allocation failed: kdbase/d_list.cpp"));
    l.insert(static_cast<void*>(&a));
    l.insert(static_cast<void*>(&b));
    mc_fail_after(0);
    EXPECT_EQ(make_array(&l, 4), nullptr);
    mc_fail_after(0);
    EXPECT_EQ(make_ref_array(&l, true), nullptr);
    d_list m(0);
    m.insert(static_cast<void*>(&a));
    mc_fail_after(1);  // the second appended node
    EXPECT_EQ(m.cat(&l), -1);
    EXPECT_EQ(m.count, 2);  // what was appended stays
    check_invariants(m);

    for (int fail = 0; fail < 2; ++fail) {
        g_collector<tracked> g(1);
        mc_fail_after(fail);  // the list entry, then the object
        EXPECT_EQ(g.alloc(), nullptr);
        ASSERT_NE(g.alloc(), nullptr);
    }
    EXPECT_EQ(destroyed.size(), 2u);  // only the objects that were made
    mc_fail_after(0);
    EXPECT_EQ(create_group("g"), nullptr);
}

TEST_F(list_test, group_compare_names_the_difference)
{
    group_t* p1 = create_group("p");
    group_t* p2 = create_group("q");
    groupable_t a, b;
    a.set_name("x");
    b.set_name("x");
    EXPECT_EQ(a.compare(&b), 0);
    b.parent = p1;
    EXPECT_EQ(a.compare(&b), -1);
    EXPECT_TRUE(log_has("parents differe"));
    a.parent = p2;
    EXPECT_EQ(a.compare(&b), -1);
    EXPECT_TRUE(log_has("unequal parents"));
    b.set_name("y");
    EXPECT_EQ(a.compare(&b), -1);
    EXPECT_TRUE(log_has("unequal names"));

    groupable_t c;
    c.copy(&a);
    EXPECT_EQ(c.parent, p2);
    EXPECT_STREQ(c.name, "x");
    delete p1;
    delete p2;
}

TEST_F(list_test, collectors_release_newest_first_and_keep_a_ledger)
{
    {
        g_collector<tracked> g(1);
        for (int i = 1; i <= 3; ++i)
            g.alloc()->id = i;
    }
    EXPECT_EQ(destroyed, std::vector<int>({3, 2, 1}));
    destroyed.clear();
    tracked* kept;
    {
        g_collector<tracked> g(1);
        kept = g.alloc();
        g.dont_delete();
    }
    EXPECT_TRUE(destroyed.empty());
    delete kept;

    g_collector<tracked> g1(1), g2(1);
    tracked* foreign = g2.alloc();
    destroyed.clear();
    g1.free(foreign);
    EXPECT_TRUE(destroyed.empty());
    EXPECT_TRUE(log_has("was not allocated with this allocator"));
    // The collector keeps a ledger and resizes blocks.
    mem_collector* mc = mc_global();
    int before = mc->total;
    char* block = static_cast<char*>(mc->_mc_new(8, "kdbase/x.cpp", 5));
    memcpy(block, "ABCDEFGH", 8);
    mc->add_entry(block, 8, "kdbase/x.cpp", 5);
    EXPECT_EQ(mc->total, before + 8);
    EXPECT_NE(mc->get_entry(block), nullptr);
    char* grown = static_cast<char*>(mc->mc_realloc(block, 16));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(memcmp(grown, "ABCDEFGH", 8), 0);
    EXPECT_EQ(mc->get_entry(grown)->size, 16);
    EXPECT_EQ(mc->total, before + 16);
    EXPECT_EQ(mc->del_entry(grown), 0);
    EXPECT_EQ(mc->del_entry(grown), -1);
    EXPECT_EQ(mc->total, before);
    mc->mc_delete(grown);

    // A block without entry is a plain resize: its bytes move, nothing past it is read.
    char* plain = static_cast<char*>(mc->_mc_new(3, "kdbase/x.cpp", 6));
    memcpy(plain, "xyz", 3);
    char* bigger = static_cast<char*>(mc->mc_realloc(plain, 4096));
    ASSERT_NE(bigger, nullptr);
    EXPECT_EQ(memcmp(bigger, "xyz", 3), 0);
    char* smaller = static_cast<char*>(mc->mc_realloc(bigger, 2));
    ASSERT_NE(smaller, nullptr);
    EXPECT_EQ(memcmp(smaller, "xy", 2), 0);
    EXPECT_EQ(mc->total, before);
    mc->mc_delete(smaller);

    mc_fail_after(0);
    EXPECT_EQ(mc->_mc_new(4, "kdbase/y.cpp", 12), nullptr);
    EXPECT_TRUE(log_has("allocation failed: kdbase/y.cpp (12) size=4"));
    EXPECT_TRUE(log_has("y.cpp(12)]"));
}

}  // namespace
