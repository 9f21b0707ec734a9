#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kdbase/mem_collector.h"
#include "mediaman/cds/cds.h"
#include "tests/common/log_fixture.h"
#include "world/animation.h"
#include "world/solid_bsp.h"

using namespace vantrel;

namespace {

std::string le32(int32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = (char)((uint32_t)v >> (8 * i));
    return s;
}

std::string f32(std::initializer_list<float> l)
{
    std::string s;
    for (float f : l) {
        int32_t v;
        memcpy(&v, &f, 4);
        s += le32(v);
    }
    return s;
}

std::string chunk(const char* type, const std::string& id, const std::string& payload)
{
    return std::string(type, 4) + le32((int32_t)payload.size()) + id + '\0' + payload;
}

// A stack of one channel per keyframe list; each entry a translation (3
// values) or rotation (4 values) with its duration first.
channel_stack* new_stack(const char* name, std::initializer_list<std::initializer_list<std::vector<float>>> chans)
{
    channel_stack* cs = KD_NEW channel_stack;
    cs->set_name(name);
    for (auto& kfs : chans) {
        channel* ch = KD_NEW channel;
        for (auto& k : kfs) {
            keyframe* kf;
            if (k.size() == 4) {
                auto* t = KD_NEW kf_mesh_mtrans_t;
                memcpy(t->delta_v, &k[1], 12);
                kf = t;
            } else {
                auto* q = KD_NEW kf_mesh_quat_t;
                memcpy(q->rel_q, &k[1], 16);
                kf = q;
            }
            kf->duration = (uint32_t)k[0];
            ch->add_keyframe(kf);
        }
        cs->push(ch);
    }
    return cs;
}

// The kind-1 channel of the format's example and a kind-2 channel.
const std::string stack_payload = le32(2) + le32(1) + le32(2) + le32(100) + f32({1, 0, 0}) + le32(50) +
                                  f32({0, 2, 0}) + le32(2) + le32(1) + le32(300) + f32({0, 0, 0, 1});

// A tree of one internal node (the plane y = 0 through (0, 0, 0), normal +y)
// over an empty leaf 1 (meshes 4, 7, seeing itself) and a solid leaf 2.
std::string small_tree(int32_t front = 1, int32_t visible = 1, int32_t mesh = 4)
{
    return le32(0) + le32(1) + le32(8) + le32(3) + le32(1) + le32(1) + le32(0) + le32(0) + le32(0) +  //
           le32(0) + f32({0, 0, 0, 0, 1, 0, -1, -1, -1, 1, 2, 3}) + le32(front) + le32(2) + le32(0) + le32(0) +
           le32(BN_ISLEAF) + f32({0, 0, 0, 1, 2, 3}) + le32(-1) + le32(-1) + le32(2) + le32(mesh) + le32(7) +
           le32(1) + le32(visible) +  //
           le32(BN_ISLEAF | BN_ISSOLID) + f32({0, 0, 0, 0, 0, 0}) + le32(-1) + le32(-1) + le32(0) + le32(0);
}

std::string container()
{
    return chunk("BSPT", "tree", small_tree()) + chunk("CSTK", "s", stack_payload) +
           chunk("ANIM", "a", std::string(1, '\0') + le32(1) + chunk("CSTK", "t", stack_payload));
}

class anim_bsp_chunks_test : public vantrel_test::log_test {
protected:
    static chunk_io* io(cds& c, const char* type) { return get_chunk_io(c.types, type); }
    int count(cds& c, const char* type) { return io(c, type)->objects.count; }
    int total(cds& c) { return count(c, "CSTK") + count(c, "ANIM") + count(c, "BSPT"); }

    void open(cds& c, const std::string& bytes)
    {
        write_file("c.cds", bytes);
        ASSERT_EQ(c.init(), 0);
        ASSERT_EQ(c.open(path("c.cds").c_str()), 0);
        c.delete_type_objects();
    }
};

TEST_F(anim_bsp_chunks_test, chunks_read_as_laid_out_and_write_back_byte_for_byte)
{
    cds c;
    open(c, container());
    ASSERT_EQ(c.read_all(), 0);
    auto* cs = static_cast<channel_stack*>(io(c, "CSTK")->objects.first->object);
    EXPECT_EQ(cs->get_duration(), 300u);
    auto* anim = static_cast<CSAnimation*>(io(c, "ANIM")->objects.first->object);
    EXPECT_EQ(anim->m_nStacks, 1);
    EXPECT_EQ(anim->m_unEndTime, 300u);
    auto* tree = static_cast<solid_bsp_t*>(io(c, "BSPT")->objects.first->object);
    bsp_index_t* leaf = tree->i_nodes[1];
    EXPECT_EQ(leaf->meshes[0] * 10 + leaf->meshes[1], 47);
    EXPECT_EQ(leaf->meshes[2], -1);
    EXPECT_EQ(leaf->bbox.max[2], 3.0f);
    float above[4] = {5, 1, 5, 0}, below[4] = {5, -1, 5, 0};
    EXPECT_EQ(tree->get_leaf_at_pos(above), leaf);
    EXPECT_EQ(tree->get_leaf_at_pos(below), nullptr);
    ASSERT_EQ(c.create(path("again.cds").c_str()), 0);
    EXPECT_EQ(read_file("again.cds"), container());

    // Objects built in memory write the same way.
    cds w;
    ASSERT_EQ(w.init(), 0);
    w.delete_type_objects();
    io(w, "CSTK")->objects.insert(new_stack("s", {{{100, 1, 0, 0}, {50, 0, 2, 0}}, {{300, 0, 0, 0, 1}}}));
    ASSERT_EQ(w.create(path("w.cds").c_str()), 0);
    EXPECT_EQ(read_file("w.cds"), chunk("CSTK", "s", stack_payload));
}

TEST_F(anim_bsp_chunks_test, two_stack_animation_ends_with_its_longest_stack)
{
    cds w;
    ASSERT_EQ(w.init(), 0);
    w.delete_type_objects();
    auto* anim = KD_NEW CSAnimation;
    anim->add_stack(new_stack("a", {{{300, 1, 0, 0}}}));
    anim->add_stack(new_stack("b", {{{200, 0, 0, 0, 1}, {300, 0, 1, 0, 0}}}));
    io(w, "ANIM")->objects.insert(anim);
    ASSERT_EQ(w.create(path("a.cds").c_str()), 0);
    cds c;
    ASSERT_EQ(c.init(), 0);
    ASSERT_EQ(c.load(path("a.cds").c_str()), 0);
    c.delete_type_objects();
    auto* back = static_cast<CSAnimation*>(io(c, "ANIM")->objects.first->object);
    EXPECT_EQ(back->m_nStacks, 2);
    EXPECT_EQ(back->m_unEndTime, 500u);
    EXPECT_EQ(back->m_unAccumulatedTime, 0u);
}

TEST_F(anim_bsp_chunks_test, bad_kinds_links_and_numbers_are_refused)
{
    const struct {
        std::string bytes;
        const char* message;
    } cases[] = {
        {chunk("CSTK", "s", le32(1) + le32(7) + le32(1) + le32(5) + f32({0, 0, 0})), "unknown keyframe type: 7"},
        {chunk("ANIM", "a", std::string(1, '\0') + le32(1) + chunk("BSPT", "t", "")), "found an invalid ANIM sub-chunk"},
        {chunk("ANIM", "a", "abc"), "reserved string without its end"},
        {chunk("BSPT", "t", small_tree(3)), "node 0: invalid child 3"},
        {chunk("BSPT", "t", small_tree(0)), "node 0: invalid child 0"},
        {chunk("BSPT", "t", small_tree(2)), "node 0: invalid child 2"},
        {chunk("BSPT", "t", small_tree(1, 0)), "visible leaf 0 is not a leaf"},
        {chunk("BSPT", "t", small_tree(1, 3)), "visible leaf 3 outside the node table"},
        {chunk("BSPT", "t", small_tree(1, 1, -2)), "invalid mesh number -2"},
        {chunk("BSPT", "t", small_tree().replace(12, 4, le32(1 << 20))), "node table does not fit"},
    };
    for (auto& k : cases) {
        clear_log();
        cds c;
        open(c, k.bytes);
        EXPECT_EQ(c.read_all(), -1) << k.message;
        EXPECT_TRUE(log_has(k.message)) << k.message;
        EXPECT_EQ(total(c), 0) << k.message;
    }
    // A channel without keyframes reads, whatever its kind.
    cds c;
    open(c, chunk("CSTK", "s", le32(1) + le32(7) + le32(0)));
    ASSERT_EQ(c.read_all(), 0);
    EXPECT_EQ(static_cast<channel*>(static_cast<channel_stack*>(io(c, "CSTK")->objects.first->object)
                                        ->channels.first->object)->count(), 0);
}

TEST_F(anim_bsp_chunks_test, channels_that_cannot_be_stored_are_refused_by_the_writer)
{
    channel_stack* timing = new_stack("t", {});
    auto* ch = KD_NEW channel;
    ch->add_keyframe(KD_NEW kf_time_t);
    timing->push(ch);
    const std::pair<channel_stack*, const char*> cases[] = {
        {new_stack("e", {{}}), "channel has no keyframes"},
        {new_stack("m", {{{1, 0, 0, 0}, {1, 0, 0, 0, 1}}}), "channel has keyframes of different type"},
        {timing, "unsupported keyframe type"},
    };
    for (auto& k : cases) {
        clear_log();
        cds w;
        ASSERT_EQ(w.init(), 0);
        w.delete_type_objects();
        io(w, "CSTK")->objects.insert(k.first);
        EXPECT_EQ(w.create(path("w.cds").c_str()), -1) << k.second;
        EXPECT_TRUE(log_has(k.second)) << k.second;
    }
}

TEST_F(anim_bsp_chunks_test, every_cut_keeps_the_complete_chunks_and_no_partial_object)
{
    const std::string full = container();
    write_file("t.cds", full);
    CFileE whole(path("t.cds").c_str(), OM_RB);
    const size_t bspt = chunk("BSPT", "tree", small_tree()).size(),
                 cstk = bspt + chunk("CSTK", "s", stack_payload).size();
    for (size_t len = 0; len < full.size(); ++len) {
        cds c;
        ASSERT_EQ(c.init(), 0);
        c.delete_type_objects();
        ASSERT_TRUE(whole.OpenVFile(&c, "cut", 0, (long)len));
        c.read_all();
        EXPECT_EQ(count(c, "BSPT"), len >= bspt) << len;
        EXPECT_EQ(count(c, "CSTK"), len >= cstk) << len;
        EXPECT_EQ(count(c, "ANIM"), 0) << len;
    }
}

TEST_F(anim_bsp_chunks_test, every_failed_allocation_of_the_readers_fails_cleanly)
{
    for (int n = 0;; ++n) {
        cds c;
        open(c, container());
        clear_log();
        mc_fail_after(n);
        int r = c.read_all();
        mc_fail_after(-1);
        if (!log_has("allocation failed")) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(total(c), 3);
            EXPECT_GT(n, 15);
            break;
        }
        EXPECT_EQ(r, -1) << "allocation " << n;
    }
}

// A two-room level compiled, stored and read back answers every question
// the same way: nodes, visible sets and the leaf of every point of a grid.
TEST_F(anim_bsp_chunks_test, a_compiled_level_reads_back_identical)
{
    solid_bsp_t built;
    ASSERT_EQ(built.build((char*)(vantrel_test::source_dir() + "/data/levels/two_rooms.txt").c_str()), 0);
    {
        cds w;
        ASSERT_EQ(w.init(), 0);
        io(w, "BSPT")->objects.insert(&built);
        ASSERT_EQ(w.create(path("l.cds").c_str()), 0);
    }
    cds c;
    ASSERT_EQ(c.init(), 0);
    ASSERT_EQ(c.load(path("l.cds").c_str()), 0);
    c.delete_type_objects();
    auto* back = static_cast<solid_bsp_t*>(io(c, "BSPT")->objects.first->object);
    ASSERT_EQ(back->stats.ni_nodes, built.stats.ni_nodes);
    EXPECT_EQ(back->stats.empty, built.stats.empty);
    for (int i = 0; i < built.stats.ni_nodes; ++i) {
        bsp_index_t *a = built.i_nodes[i], *b = back->i_nodes[i];
        EXPECT_EQ(a->flags, b->flags) << i;
        EXPECT_EQ(a->front * 1000 + a->back, b->front * 1000 + b->back) << i;
        for (int k = 0; a->meshes && (k == 0 || a->meshes[k - 1] != -1); ++k)
            EXPECT_EQ(a->meshes[k], b->meshes[k]) << i;
        EXPECT_EQ(0, memcmp(a->bbox.min, b->bbox.min, 12));
        EXPECT_EQ(0, memcmp(a->bbox.max, b->bbox.max, 12));
        if (!FLAG_ISSET(a->flags, BN_ISLEAF)) {
            EXPECT_EQ(0, memcmp(a->va[a->vi[0]].v, b->va[0].v, 12)) << i;
            EXPECT_EQ(0, memcmp(a->normal, b->normal, 12)) << i;
        }
        ASSERT_EQ(a->visible_leafs.count, b->visible_leafs.count) << i;
        for (d_node *x = a->visible_leafs.first, *y = b->visible_leafs.first; x; x = x->next, y = y->next)
            EXPECT_EQ(x->data, y->data) << i;
    }
    const bbox_t& box = built.root.bbox;
    auto number = [](solid_bsp_t& t, bsp_index_t* leaf) {
        for (int i = 0; i < t.stats.ni_nodes; ++i)
            if (t.i_nodes[i] == leaf)
                return i;
        return -1;
    };
    int empty = 0;
    for (int s = 0; s < 21 * 21 * 21; ++s) {
        float p[4] = {0, 0, 0, 0};
        for (int a = 0, step = s; a < 3; ++a, step /= 21)
            p[a] = box.min[a] - 1 + (box.max[a] - box.min[a] + 2) * (step % 21) / 20;
        int x = number(built, built.get_leaf_at_pos(p));
        EXPECT_EQ(x, number(*back, back->get_leaf_at_pos(p))) << p[0] << " " << p[1] << " " << p[2];
        empty += x >= 0;
    }
    EXPECT_GT(empty, 500);
}

}  // namespace
