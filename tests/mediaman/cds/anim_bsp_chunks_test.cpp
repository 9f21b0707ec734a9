#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kdbase/mem_collector.h"
#include "mediaman/cds/cds.h"
#include "tests/common/log_fixture.h"
#include "tests/mediaman/cds/chunk_bytes.h"
#include "world/animation.h"
#include "world/solid_bsp.h"

using namespace vantrel;

namespace {

using namespace chunk_bytes;
const auto f32 = floats;

// The format's example channel of kind 1 and a channel of kind 2.
const std::string stack_payload = le32(2) + le32(1) + le32(2) + le32(100) + f32({1, 0, 0}) + le32(50) +
                                  f32({0, 2, 0}) + le32(2) + le32(1) + le32(300) + f32({0, 0, 0, 1});

// One internal node (the plane y = 0 through the origin, normal +y) over an
// empty leaf 1 (meshes 4 and 7, seeing itself) and a solid leaf 2.
std::string small_tree(int32_t front = 1, int32_t visible = 1, int32_t mesh = 4)
{
    return le32(0) + le32(1) + le32(8) + le32(3) + le32(1) + le32(1) + le32(0) + le32(0) + le32(0) +  //
           le32(0) + f32({0, 0, 0, 0, 1, 0, -1, -1, -1, 1, 2, 3}) + le32(front) + le32(2) + le32(0) + le32(0) +
           le32(BN_ISLEAF) + f32({0, 0, 0, 1, 2, 3}) + le32(-1) + le32(-1) + le32(2) + le32(mesh) + le32(7) +
           le32(1) + le32(visible) +  //
           le32(BN_ISLEAF | BN_ISSOLID) + f32({0, 0, 0, 0, 0, 0}) + le32(-1) + le32(-1) + le32(0) + le32(0);
}

// In writing order.
const std::string container = chunk("BSPT", "tree", small_tree()) + chunk("CSTK", "s", stack_payload) +
                              chunk("ANIM", "a", std::string(1, '\0') + le32(1) + chunk("CSTK", "t", stack_payload));

class anim_bsp_chunks_test : public chunk_types_test {
protected:
    template <class T>
    static T* first(cds& c, const char* type) { return static_cast<T*>(io(c, type)->objects.first->object); }
    static int total(cds& c) { return count(c, "CSTK") + count(c, "ANIM") + count(c, "BSPT"); }
    // A container writing o as type (not owning it) to name.
    int write(const char* type, groupable_t* o, const std::string& name)
    {
        cds w;
        w.init();
        io(w, type)->objects.insert(o);
        return w.create(path(name).c_str());
    }
};

TEST_F(anim_bsp_chunks_test, chunks_and_a_compiled_level_read_as_laid_out_and_write_back_byte_for_byte)
{
    cds c;
    open(c, "c.cds", container);
    ASSERT_EQ(c.read_all(), 0);
    EXPECT_EQ(first<channel_stack>(c, "CSTK")->get_duration(), 300u);
    EXPECT_EQ(first<CSAnimation>(c, "ANIM")->m_unEndTime, 300u);
    auto* tree = first<solid_bsp_t>(c, "BSPT");
    bsp_index_t* leaf = tree->i_nodes[1];
    EXPECT_EQ(std::vector<int32_t>(leaf->meshes, leaf->meshes + 3), (std::vector<int32_t>{4, 7, -1}));
    EXPECT_EQ(leaf->bbox.max[2], 3.0f);
    float above[4] = {5, 1, 5, 0}, below[4] = {5, -1, 5, 0};
    EXPECT_EQ(tree->get_leaf_at_pos(above), leaf);
    EXPECT_EQ(tree->get_leaf_at_pos(below), nullptr);
    ASSERT_EQ(c.create(path("again.cds").c_str()), 0);
    EXPECT_EQ(read_file("again.cds"), container);

    // Two stacks of 300 and 500 ms: the animation ends at 500.
    cds a;
    const std::string stack500 = le32(1) + le32(1) + le32(1) + le32(500) + f32({0, 0, 0});
    open(a, "a.cds", chunk("ANIM", "a", std::string(1, '\0') + le32(2) + chunk("CSTK", "t", stack_payload) +
                                          chunk("CSTK", "u", stack500)));
    ASSERT_EQ(a.read_all(), 0);
    EXPECT_EQ(first<CSAnimation>(a, "ANIM")->m_nStacks, 2);
    EXPECT_EQ(first<CSAnimation>(a, "ANIM")->m_unEndTime, 500u);

    // A two-room level compiled, stored and read back stores the same bytes
    // again: nodes, planes, mesh numbers and visible sets all come back.
    solid_bsp_t built;
    ASSERT_EQ(built.build((char*)(vantrel_test::source_dir() + "/data/levels/two_rooms.txt").c_str()), 0);
    ASSERT_EQ(write("BSPT", &built, "l.cds"), 0);
    cds l;
    open(l, "l.cds");
    ASSERT_EQ(l.read_all(), 0);
    ASSERT_EQ(l.create(path("again.cds").c_str()), 0);
    EXPECT_EQ(read_file("again.cds"), read_file("l.cds"));
    EXPECT_GT(read_file("l.cds").size(), 1000u);
}

TEST_F(anim_bsp_chunks_test, bad_kinds_links_numbers_and_cuts_keep_no_partial_object)
{
    const struct { std::string bytes; const char* message; } cases[] = {
        {chunk("CSTK", "s", le32(1) + le32(7) + le32(1) + le32(5) + f32({0, 0, 0})), "unknown keyframe type: 7"},
        {chunk("ANIM", "a", std::string(1, '\0') + le32(1) + chunk("BSPT", "t", "")),
         "found an invalid ANIM sub-chunk"},
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
        open(c, "b.cds", k.bytes);
        EXPECT_EQ(c.read_all(), -1) << k.message;
        EXPECT_TRUE(log_has(k.message)) << k.message;
        EXPECT_EQ(total(c), 0) << k.message;
    }
    // Every cut and every failed allocation keeps only complete objects.
    write_file("t.cds", container);
    CFileE whole(path("t.cds").c_str(), OM_RB);
    const size_t bspt = chunk("BSPT", "tree", small_tree()).size();
    const size_t cstk = bspt + chunk("CSTK", "s", stack_payload).size();
    for (size_t len = 0; len < container.size(); ++len) {
        cds c;
        open_cut(c, whole, len);
        c.read_all();
        EXPECT_EQ(total(c), (len >= bspt) + (len >= cstk)) << len;
    }
    every_failed_allocation_fails("t.cds", 3, 15, total);
    // A channel without keyframes reads, whatever its kind.
    cds c;
    open(c, "e.cds", chunk("CSTK", "s", le32(1) + le32(7) + le32(0)));
    ASSERT_EQ(c.read_all(), 0);
    EXPECT_EQ(static_cast<channel*>(first<channel_stack>(c, "CSTK")->channels.first->object)->count(), 0);

    // The writer refuses it, and channels of mixed or timing-only keyframes.
    channel_stack* cs = first<channel_stack>(c, "CSTK");
    auto refused = [&](const char* message) {
        EXPECT_EQ(write("CSTK", cs, "w.cds"), -1) << message;
        EXPECT_TRUE(log_has(message)) << message;
    };
    refused("channel has no keyframes");
    channel* ch = static_cast<channel*>(cs->channels.first->object);
    ch->add_keyframe(KD_NEW kf_mesh_mtrans_t);
    ch->add_keyframe(KD_NEW kf_mesh_quat_t);
    refused("channel has keyframes of different type");
    cs->pop();
    cs->push(ch = KD_NEW channel);
    ch->add_keyframe(KD_NEW kf_time_t);
    refused("unsupported keyframe type");
}

}  // namespace
