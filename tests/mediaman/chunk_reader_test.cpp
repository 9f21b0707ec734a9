#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "kdbase/mem_collector.h"
#include "mediaman/chunk_reader.h"
#include "tests/common/log_fixture.h"

using namespace vantrel;

namespace {

// Reads n bytes of own data into a block kept as the node's data.
struct data_proc : chunk_proc {
    int n;
    int result = 0;
    data_proc(unsigned short _id, int _n) : chunk_proc(_id), n(_n) {}
    int read_data(CFileE& f, chunk_node* node) override
    {
        if (result < 0)
            return result;
        char* d = KD_NEW char[n + 1];
        if (!d)
            return -1;
        memset(d, 0, n + 1);
        node->set_data(d, [](void* p) { delete[] static_cast<char*>(p); });
        f.Read(d, n);
        return 0;
    }
};

// A client with the header {id: u16, size: u32}.
struct client : data_container {
    std::function<int(chunk_node*)> on_tree;
    int trees = 0;
    explicit client(chunk_proc** _procs = nullptr)
    {
        procs = _procs;
        header.add("id", (unsigned short)0);
        header.add("size", (unsigned int)0);
    }
    int process_tree(chunk_node* root) override
    {
        ++trees;
        return on_tree ? on_tree(root) : 0;
    }
};

std::string chunk(unsigned short id, const std::string& own, const std::string& subs = "", int size_delta = 0)
{
    uint32_t n = (uint32_t)(6 + own.size() + subs.size() + size_delta);
    return std::string{(char)id, (char)(id >> 8), (char)n, (char)(n >> 8), (char)(n >> 16), (char)(n >> 24)} + own +
           subs;
}

int node_id(chunk_node* n)
{
    return n->header.get_var("id")->us_value();
}

class chunk_reader_test : public vantrel_test::log_test {
protected:
    void TearDown() override
    {
        mc_fail_after(-1);
        log_test::TearDown();
    }

    // Reads one root chunk of bytes through the client.
    int read(const std::string& bytes, data_container& c, long* end = nullptr)
    {
        write_file("c.bin", bytes);
        CFileE f;
        EXPECT_TRUE(f.Open(path("c.bin").c_str(), OM_RB));
        int r = read_chunk_file(f, &c);
        if (end)
            *end = f.GetPos();
        return r;
    }

    data_proc p1{1, 2}, p2{2, 4}, p3{3, 0};
    chunk_proc* procs[4] = {&p1, &p2, &p3, nullptr};
};

// Root 1 with two bytes of its own, holding 2 (four bytes) and the empty 3.
std::string sample()
{
    return chunk(1, "ab", chunk(2, "wxyz") + chunk(3, ""));
}

// A decoded object stored with set_object (plain new, plain delete).
struct decoded {
    static int alive;
    decoded() { ++alive; }
    ~decoded() { --alive; }
};
int decoded::alive = 0;

struct object_proc : chunk_proc {
    int result = 0;
    using chunk_proc::chunk_proc;
    int read_data(CFileE& f, chunk_node* node) override
    {
        node->set_object(KD_NEW decoded);
        f.Forward(4);
        return result;
    }
};

TEST_F(chunk_reader_test, reads_the_tree_hands_it_over_and_frees_each_block_as_it_was_made)
{
    client c(procs);
    char* kept = nullptr;
    c.on_tree = [&](chunk_node* root) {
        EXPECT_EQ(node_id(root), 1);
        EXPECT_STREQ(static_cast<char*>(root->data), "ab");
        EXPECT_EQ(root->header.get_var("size")->ui_value(), 24u);
        EXPECT_EQ(root->children.count, 2);
        chunk_node* a = static_cast<chunk_node*>(root->children.first->object);
        EXPECT_EQ(node_id(a), 2);
        EXPECT_EQ(a->parent, root);
        EXPECT_STREQ(static_cast<char*>(a->data), "wxyz");
        EXPECT_EQ(node_id(static_cast<chunk_node*>(root->children.last->object)), 3);
        // Take one block over; the rest goes with the tree.
        kept = static_cast<char*>(a->data);
        a->data = nullptr;
        return 0;
    };
    long end = 0;
    EXPECT_EQ(read(sample() + "trailing", c, &end), 0);
    EXPECT_EQ(c.trees, 1);
    EXPECT_EQ(end, (long)sample().size());
    ASSERT_NE(kept, nullptr);
    EXPECT_STREQ(kept, "wxyz");
    delete[] kept;

    // Whether the tree is processed, refused or fails part way, each stored
    // object is freed once, as it was made.
    object_proc o2(2);
    chunk_proc* mixed[] = {&p1, &o2, &p3, nullptr};
    client owner(mixed);
    for (int k = 0; k < 4; ++k) {
        o2.result = k == 3 ? -1 : 0;
        owner.on_tree = [&](chunk_node*) { return decoded::alive == 2 && k == 1 ? -1 : 0; };
        std::string two = chunk(1, "ab", chunk(2, "wxyz") + chunk(2, "wxyz") + (k == 2 ? chunk(9, "") : ""));
        EXPECT_EQ(read(two, owner), k == 0 ? 0 : -1) << k;
        EXPECT_EQ(decoded::alive, 0) << k;
    }
}

TEST_F(chunk_reader_test, misreading_processors_fail_the_read_the_default_one_skips_sub_chunks)
{
    // Processors that read too much or too little, or fail: the read fails and no
    // tree is handed over.
    const struct { int p1n, p2n, p3result; std::string bytes; const char* message; } cases[] = {
        {2, 6, 0, sample(), "_read_chunk(): chunk not processed correctly: id(2) size(10) read(12)"},
        {0, 4, 0, sample(), nullptr},  // "ab" is then parsed as the start of a sub-chunk
        {2, 4, -1, sample(), "_read_chunk(): unable to process chunk 3"},
        {2, 4, 0, chunk(1, "ab", std::string("\x02\x00\x0a", 3)), "_read_chunk(): reached eof while reading chunk"},
        {2, 4, 0, chunk(1, "ab", "", 0x7ffffff0), "reached eof while reading chunk"},
        {2, 4, 0, chunk(1, "ab", "", -8), "chunk not processed correctly: id(1) size(0) read(6)"},  // below its header
    };
    for (const auto& k : cases) {
        client c(procs);
        p1.n = k.p1n, p2.n = k.p2n, p3.result = k.p3result;
        clear_log();
        EXPECT_EQ(read(k.bytes, c), -1) << k.p1n << k.p2n << k.p3result;
        EXPECT_EQ(c.trees, 0);
        EXPECT_TRUE(!k.message || log_has(k.message)) << k.message;
    }

    client c;
    vantrel::default_proc skip;
    c.default_proc = &skip;
    c.on_tree = [](chunk_node* root) {
        EXPECT_EQ(node_id(root), 1);
        EXPECT_EQ(root->children.count, 0);
        return 0;
    };
    long end = 0;
    EXPECT_EQ(read(sample() + "x", c, &end), 0);
    EXPECT_EQ(end, (long)sample().size());

    // Without any processor the chunk cannot be read.
    client none;
    EXPECT_EQ(read(sample(), none), -1);
    EXPECT_TRUE(log_has("_read_chunk(): don't now how to handle chunk 1"));
    // A chunk of header size has no data and no children; one byte more than
    // the file holds is the end of the file.
    none.default_proc = &skip;
    EXPECT_EQ(read(chunk(7, "", "", 0), none), 0);
    EXPECT_EQ(read(chunk(7, "", "", 1), none), -1);
    EXPECT_TRUE(log_has("reached eof while reading chunk"));

    // The header layout is the client's: here size, a flag byte, then id.
    struct odd : data_container {
        odd()
        {
            header.add("size", (unsigned int)0);
            header.add("flag", (unsigned char)0);
            header.add("id", (unsigned short)0);
        }
        int process_tree(chunk_node* root) override
        {
            return root->header.get_var("flag")->uc_value() == 0x5a && node_id(root) == 0x0102 ? 0 : -1;
        }
    } o;
    o.default_proc = &skip;
    EXPECT_EQ(read(std::string("\x09\x00\x00\x00\x5a\x02\x01zz", 9) + "x", o, &end), 0);
    EXPECT_EQ(end, 9);
}

TEST_F(chunk_reader_test, truncations_allocation_failures_and_deep_nesting_fail_cleanly)
{
    std::string s = sample();
    for (size_t len = 0; len < s.size(); ++len) {
        client c(procs);
        clear_log();
        EXPECT_EQ(read(s.substr(0, len), c), -1) << "length " << len;
        EXPECT_TRUE(log_has("reached eof")) << "length " << len;
    }
    for (int i = 0; i < 60; ++i) {
        client c(procs);
        mc_fail_after(i);
        int r = read(s, c);
        mc_fail_after(-1);
        if (r == 0)
            break;
        EXPECT_EQ(c.trees, 0);
    }

    // Deep nesting is refused, not overflowed.
    data_proc p0(0, 0);
    chunk_proc* nest[] = {&p0, nullptr};
    // CHUNK_MAX_DEPTH levels are read, one more is refused.
    std::string ok = chunk(0, "");
    for (int i = 1; i < CHUNK_MAX_DEPTH; ++i)
        ok = chunk(0, "", ok);
    client c(nest);
    EXPECT_EQ(read(ok, c), 0);
    EXPECT_EQ(read(chunk(0, "", ok), c), -1);
    EXPECT_TRUE(log_has("_read_chunk(): chunks nested deeper than 1024"));
}

}  // namespace
