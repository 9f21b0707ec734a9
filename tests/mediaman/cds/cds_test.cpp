#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "kdbase/mem_collector.h"
#include "mediaman/cds/cds.h"
#include "tests/common/log_fixture.h"
#include "tests/mediaman/cds/chunk_bytes.h"

using namespace vantrel;

namespace {

// A chunk type of the tests: the object's name is the chunk id, its payload
// one 32-bit value. When overread is set, reading takes 4 bytes more.
struct test_obj : groupable_t {
    int value = 0;
};

struct test_io : chunk_io {
    bool overread = false;
    test_io() : chunk_io("TEST") { objects.delete_elements = 1; }
    int read(cds& c, chunk_header& h) override
    {
        test_obj* o = KD_NEW test_obj;
        if (!o)
            return -1;
        o->set_name(h.id);
        o->value = c.ReadInt();
        if (overread)
            c.ReadInt();
        c.set_group(o);
        if (objects.insert(o) < 0) {
            delete o;
            return -1;
        }
        return 0;
    }
    int write(cds& c, groupable_t* o) override
    {
        long size_pos = c.write_header("TEST", 0, o->name);
        long start = c.GetPos();
        c.WriteInt(static_cast<test_obj*>(o)->value);
        return c.write_size_at_pos(size_pos, start);
    }
};

using namespace chunk_bytes;

std::string test_chunk(const std::string& id, int32_t value)
{
    return hdr("TEST", 4, id) + le32(value);
}

const std::string tga = "TGA bytes\x01\x02";

// The golden container: CDSI; group a holding the empty group b; group tex
// holding the embedded file x.tga; the ungrouped TEST chunk t = 7.
std::string golden()
{
    std::string file = hdr("FILE", (int32_t)tga.size(), "x.tga") + tga;
    return hdr("CDSI", 0, "") + hdr("GROU", 10, "a") + hdr("GROU", 0, "b") +
           hdr("GROU", (int32_t)file.size(), "tex") + file + test_chunk("t", 7);
}

class cds_test : public vantrel_test::log_test {
protected:
    void SetUp() override
    {
        log_test::SetUp();
        io = prepare(c);
    }
    void TearDown() override
    {
        mc_fail_after(-1);
        log_test::TearDown();
    }

    // A container that knows the TEST type and owns the objects given to it.
    static test_io* prepare(cds& c)
    {
        test_io* io = KD_NEW test_io;
        EXPECT_EQ(c.init(), 0);
        EXPECT_NE(add_type(c.types, io), 0);
        c.delete_type_objects();
        return io;
    }

    // Opening leaves the lists owning nothing: these make the container own
    // what it reads (all of it with load) from a file of the test directory
    // (written first from bytes when given).
    int open(cds& into, const char* name, const std::string& bytes = "", bool all = false)
    {
        if (!bytes.empty())
            write_file(name, bytes);
        int r = all ? into.load(path(name).c_str()) : into.open(path(name).c_str());
        into.delete_type_objects();
        return r;
    }
    int load(cds& into, const char* name, const std::string& bytes = "") { return open(into, name, bytes, true); }

    static test_obj* add_test(test_io* io, const char* name, int value, group_t* parent)
    {
        test_obj* o = KD_NEW test_obj;
        o->set_name(name);
        o->value = value;
        o->parent = parent;
        io->objects.insert(o);
        return o;
    }

    static cds_group_t* group_named(cds& c, const char* name)
    {
        for (d_node* n = c.chunk_grou.objects.first; n; n = n->next)
            if (strcmp(static_cast<cds_group_t*>(n->object)->name, name) == 0)
                return static_cast<cds_group_t*>(n->object);
        return nullptr;
    }

    // Deletes what the container holds: opening another file forgets it.
    void delete_objects()
    {
        for (int i = 0; c.types[i]; ++i)
            c.types[i]->objects.delete_nodes();
    }

    cds c;  // knows the TEST type, read by io
    test_io* io = nullptr;
};

TEST_F(cds_test, writes_the_golden_container_byte_for_byte)
{
    write_file("x.tga", tga);
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(dir);  // the entry names a file of the current directory
    {
        cds w;
        test_io* wio = prepare(w);
        w.objects.insert(KD_NEW groupable_t);  // the CDSI marker
        cds_group_t* a = w.add_group("a");
        cds_group_t* b = w.add_group("b");
        cds_group_t* tex = w.add_group("tex");
        b->parent = a;
        chunk_entry_t* e = KD_NEW chunk_entry_t;
        e->set_name("x.tga");
        e->parent = tex;
        w.chunk_file.objects.insert(e);
        add_test(wio, "t", 7, nullptr);
        ASSERT_EQ(w.create(path("out.cds").c_str()), 0);
        EXPECT_EQ(a->size, 10);
        EXPECT_EQ(b->size, 0);
    }
    std::filesystem::current_path(here);
    EXPECT_EQ(read_file("out.cds"), golden());
}

TEST_F(cds_test, reads_the_golden_container_back_and_searches_on_from_its_empty_group)
{
    std::string g = golden();
    write_file("in.cds", g);
    ASSERT_EQ(load(c, "in.cds"), 0);
    EXPECT_EQ(c.curr_group, nullptr);

    ASSERT_EQ(c.chunk_grou.objects.count, 3);
    const struct {
        const char* name;
        long start, size;
        const char* parent;
    } groups[] = {{"a", 19, 10, nullptr}, {"b", 29, 0, "a"}, {"tex", 41, 14 + (long)tga.size(), nullptr}};
    for (const auto& w : groups) {
        cds_group_t* grp = group_named(c, w.name);
        ASSERT_NE(grp, nullptr) << w.name;
        EXPECT_EQ(grp->start, w.start) << w.name;
        EXPECT_EQ(grp->size, w.size) << w.name;
        EXPECT_EQ(grp->parent, w.parent ? group_named(c, w.parent) : nullptr) << w.name;
    }
    cds_group_t* tex = group_named(c, "tex");

    ASSERT_EQ(c.chunk_file.objects.count, 1);
    chunk_entry_t* e = c._get_file_entry("/tex/x.tga");
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->pos, 55);
    EXPECT_EQ(e->size, (long)tga.size());
    EXPECT_EQ(e->parent, tex);

    ASSERT_EQ(io->objects.count, 1);
    test_obj* t = static_cast<test_obj*>(io->objects.first->object);
    EXPECT_STREQ(t->name, "t");
    EXPECT_EQ(t->value, 7);
    EXPECT_EQ(t->parent, nullptr);

    CFile f;
    ASSERT_EQ(c.open_file(f, "/tex/x.tga"), 0);
    EXPECT_EQ(f.GetSize(), (long)tga.size());
    std::string bytes(tga.size(), '\0');
    EXPECT_EQ(f.Read(&bytes[0], (int)bytes.size()), (int)bytes.size());
    EXPECT_EQ(bytes, tga);
    char extra;
    EXPECT_EQ(f.Read(&extra, 1), 0);

    EXPECT_EQ(c.open_file(f, "/x.tga"), -1);
    EXPECT_TRUE(log_has("unable to find /x.tga"));

    // The entries read name their paths inside the container, not files on
    // disk: without them the rest writes back unchanged, the longer old
    // contents gone.
    c.chunk_file.objects.delete_nodes();
    ASSERT_EQ(c.write_all(), 0);
    EXPECT_EQ(read_file("in.cds"),
              hdr("GROU", 10, "a") + hdr("GROU", 0, "b") + hdr("GROU", 0, "tex") + test_chunk("t", 7));
    // The golden container's /a/b is an empty group: a search from it goes on to
    // the end of the file, and finds nothing within it with CDS_GROUP_ONLY.
    delete_objects();
    write_file("in.cds", golden());
    ASSERT_EQ(open(c, "in.cds"), 0);
    ASSERT_EQ(c.read_chunk("x.tga", CDS_IN_GROUP, "/a/b", 0), 0);
    EXPECT_NE(c._get_file_entry("/tex/x.tga"), nullptr);
    ASSERT_EQ(c.read_chunk(0u, CDS_IN_GROUP, "/a/b", 0), 0);
    EXPECT_STREQ(c.curr_group->name, "tex");
    ASSERT_EQ(c.read_chunk("t", CDS_IN_GROUP, "/a/b", 0), 0);
    EXPECT_EQ(io->objects.count, 1);
    EXPECT_EQ(c.read_chunk("t", CDS_IN_GROUP, "/a/b", CDS_GROUP_ONLY), -1);
}

TEST_F(cds_test, read_chunk_by_number_counts_group_headers_by_name_follows_paths_opening_forgets)
{
    ASSERT_EQ(open(c, "n.cds", hdr("GROU", 14, "a") + test_chunk("m", 5) + test_chunk("r", 6)), 0);

    ASSERT_EQ(c.read_chunk(0u, CDS_IN_FILE, nullptr, 0), 0);
    ASSERT_NE(c.curr_group, nullptr);
    EXPECT_STREQ(c.curr_group->name, "a");
    EXPECT_EQ(c.GetPos(), 10);
    EXPECT_EQ(io->objects.count, 0);

    ASSERT_EQ(c.read_chunk(1u, CDS_IN_FILE, nullptr, 0), 0);
    ASSERT_EQ(io->objects.count, 1);
    test_obj* m = static_cast<test_obj*>(io->objects.last->object);
    EXPECT_EQ(m->value, 5);
    EXPECT_EQ(m->parent, c.curr_group);

    ASSERT_EQ(c.read_chunk(2u, CDS_IN_FILE, nullptr, 0), 0);
    test_obj* r = static_cast<test_obj*>(io->objects.last->object);
    EXPECT_EQ(r->value, 6);
    EXPECT_EQ(r->parent, nullptr);  // the group had closed

    EXPECT_EQ(c.read_chunk(3u, CDS_IN_FILE, nullptr, 0), -1);
    EXPECT_TRUE(log_has("chunk 3 not found"));
    EXPECT_EQ(c.read_chunk((unsigned int)-1, CDS_IN_FILE, nullptr, 0), -1);
    EXPECT_TRUE(log_has("chunk -1 not found"));
    delete_objects();

    // By name and path: /a holds /a/inner (holding m = 1) and its own m = 2; r = 3 is outside.
    std::string inner = hdr("GROU", 14, "inner") + test_chunk("m", 1);
    std::string a = inner + test_chunk("m", 2);
    ASSERT_EQ(open(c, "p.cds", hdr("GROU", (int32_t)a.size(), "a") + a + test_chunk("r", 3)), 0);

    ASSERT_EQ(c.read_chunk("m", CDS_IN_FILE, nullptr, 0), 0);
    EXPECT_EQ(static_cast<test_obj*>(io->objects.last->object)->value, 1);
    EXPECT_STREQ(static_cast<test_obj*>(io->objects.last->object)->parent->name, "inner");

    ASSERT_EQ(c.read_chunk("m", CDS_IN_GROUP, "/a", CDS_GROUP_ONLY), 0);
    EXPECT_EQ(static_cast<test_obj*>(io->objects.last->object)->value, 1);
    ASSERT_EQ(c.read_chunk("r", CDS_IN_GROUP, "/a/inner", 0), 0);  // past the group's end
    EXPECT_EQ(static_cast<test_obj*>(io->objects.last->object)->value, 3);

    EXPECT_EQ(c.read_chunk("r", CDS_IN_GROUP, "/a/inner", CDS_GROUP_ONLY), -1);
    EXPECT_TRUE(log_has("r: not found"));
    EXPECT_EQ(c.read_chunk("m", CDS_IN_GROUP, "/a/nope", 0), -1);
    EXPECT_TRUE(log_has("/a/nope not found"));
    EXPECT_EQ(c.read_chunk("m", CDS_IN_GROUP, "/r/m", 0), -1);  // r is not a group
    EXPECT_TRUE(log_has("/r/m not found"));

    // A path component names the group; the search then starts at its start.
    ASSERT_EQ(c.read_chunk("inner", CDS_IN_GROUP, "/a", 0), 0);
    EXPECT_STREQ(c.curr_group->name, "inner");
    ASSERT_EQ(c.read_chunk("m", CDS_IN_GROUP, nullptr, CDS_GROUP_ONLY), 0);
    EXPECT_EQ(static_cast<test_obj*>(io->objects.last->object)->value, 1);
    EXPECT_EQ(c.read_chunk("zz", CDS_IN_GROUP, "relative", 0), -1);
    EXPECT_TRUE(log_has("zz: not found"));

    // Opening forgets earlier objects and owns nothing.
    delete_objects();
    ASSERT_EQ(load(c, "a.cds", test_chunk("a", 1)), 0);
    ASSERT_EQ(io->objects.count, 1);
    test_obj* earlier = static_cast<test_obj*>(io->objects.first->object);
    ASSERT_EQ(c.open(path("a.cds").c_str()), 0);
    EXPECT_EQ(io->objects.count, 0);
    EXPECT_EQ(earlier->value, 1);  // forgotten, not deleted
    delete earlier;
    for (int i = 0; c.types[i]; ++i)
        EXPECT_EQ(c.types[i]->objects.delete_elements, 0) << i;
    ASSERT_EQ(c.read_all(), 0);
    c.delete_type_objects();  // what was read now dies with the container
}

// Unknown types are skipped. Chunks that claim bytes the file does not have are dropped with a warning
// and reading ends there with 0; malformed ones fail with the read error,
// "read error on <file> at byte <offset>", the reason on a line of its own.
TEST_F(cds_test, chunks_claiming_bytes_not_there_and_every_cut_are_dropped_malformed_ones_and_overreads_fail)
{
    struct {
        std::string bytes;
        int result;
        const char* message;
        int kept;  // TEST objects kept
    } cases[] = {
        {test_chunk("a", 1) + hdr("ZZZZ", -5, "n"), -1, "negative chunk size", 1},
        {"ZZZZ" + le32(0) + std::string(300, 'i'), -1, "chunk id without its end", 0},
        {hdr("GROU", 10, "g") + hdr("GROU", 0, "g"), -1, "same name", 0},
        {test_chunk("a", 1) + hdr("ZZZZ", 100, "big") + "xy", 0,
         "chunk ZZZZ big at byte 14 runs past the end of the file, dropped", 1},
        {hdr("FILE", INT32_MAX, "big") + "xy", 0, "chunk FILE big at byte 0 runs past the end of the file, dropped", 0},
        {hdr("GROU", 10, "g") + test_chunk("a", 1) + test_chunk("b", 2), 0,
         "chunk TEST a at byte 10 runs past the end of its group g, dropped", 0},
        {hdr("GROU", 500, "g") + test_chunk("a", 1), 0,
         "group g at byte 0 runs past the end of the file, cut to 14 bytes", 1},
        {hdr("GROU", 8, "g") + "ZZZZ" + le32(0), 0, "the file ends inside the chunk header at byte 10", 0},
        {test_chunk("a", 1) + hdr("ZZZZ", 3, "q") + "xyz" + test_chunk("b", 2), 0,
         "unable to find chunk_io object for ZZZZ", 2},  // an unknown type is skipped
        // What a reader leaves of its payload is skipped, a little or a lot
        // (read past, or sought past), and so is a long unknown chunk.
        {hdr("TEST", 104, "a") + le32(1) + std::string(100, 'p') + hdr("TEST", 20004, "b") + le32(2) +
             std::string(20000, 'q') + hdr("ZZZZ", 9000, "z") + std::string(9000, 'z') + test_chunk("c", 3),
         0, "unable to find chunk_io object for ZZZZ", 3},
    };
    for (auto& k : cases) {
        SCOPED_TRACE(k.message);
        write_file("h.cds", k.bytes);
        clear_log();
        cds t;
        test_io* tio = prepare(t);
        EXPECT_EQ(load(t, "h.cds"), k.result);
        EXPECT_TRUE(log_has(k.message));
        EXPECT_EQ(tio->objects.count, k.kept);
        EXPECT_EQ(t.chunk_file.objects.count, 0);
        if (&k == &cases[0]) {  // the read error line, then its reason
            EXPECT_TRUE(log_has("read error on " + path("h.cds") + " at byte 14"));
            EXPECT_FALSE(log_has("at byte 14: "));
        }
        EXPECT_EQ(t.read_chunk("zz", CDS_IN_FILE, nullptr, 0), -1);
    }
    // The chunk searched for is cut short: it cannot be read.
    ASSERT_EQ(open(c, "s.cds", test_chunk("a", 1) + hdr("TEST", 4, "b") + "xy"), 0);
    EXPECT_EQ(c.read_chunk("b", CDS_IN_FILE, nullptr, 0), -1);
    // A reader that reads past its chunk fails the read.
    io->overread = true;
    EXPECT_EQ(load(c, "o.cds", test_chunk("a", 1) + test_chunk("b", 2)), -1);
    EXPECT_TRUE(log_has("read error on"));
    EXPECT_TRUE(log_has("read past the chunk's end"));
    // A file cut at any byte reads up to the cut: nothing kept claims bytes past
    // it, and a warning names the offset of what was cut (none when the file ends
    // between whole chunks).
    std::string g = golden();
    const size_t tex_end = 41 + 14 + tga.size(), whole[] = {0, 9, 29, tex_end, g.size()};
    for (size_t len = 0; len <= g.size(); ++len) {
        SCOPED_TRACE(testing::Message() << "length " << len);
        write_file("t.cds", g.substr(0, len));
        clear_log();
        cds t;
        test_io* tio = prepare(t);
        EXPECT_EQ(load(t, "t.cds"), 0);
        EXPECT_EQ(log_has(" at byte "), std::count(std::begin(whole), std::end(whole), len) == 0);
        for (d_node* n = t.chunk_grou.objects.first; n; n = n->next) {
            cds_group_t* grp = static_cast<cds_group_t*>(n->object);
            EXPECT_LE(grp->start + grp->size, (long)len);
        }
        chunk_entry_t* e = t._get_file_entry("/tex/x.tga");
        EXPECT_EQ(e != nullptr, len >= tex_end);
        EXPECT_EQ(tio->objects.count, len == g.size() ? 1 : 0);
    }
}

TEST_F(cds_test, ids_of_254_characters_and_deeply_nested_groups_read_and_write_back)
{
    std::string id(254, 'k');
    ASSERT_EQ(load(c, "k.cds", test_chunk(id, 3)), 0);
    EXPECT_EQ(std::string(static_cast<test_obj*>(io->objects.first->object)->name), id);

    // Written ids are cut to fit.
    add_test(io, std::string(400, 'w').c_str(), 1, nullptr);
    io->objects.remove(0);
    ASSERT_EQ(c.create(path("w.cds").c_str()), 0);
    EXPECT_EQ(read_file("w.cds"), test_chunk(std::string(254, 'w'), 1));
    delete_objects();

    // Deeply nested groups read and close.
    const int depth = 2000;
    std::string body = test_chunk("leaf", 9);
    for (int i = depth - 1; i >= 0; --i)
        body = hdr("GROU", (int32_t)body.size(), "g" + std::to_string(i)) + body;
    ASSERT_EQ(load(c, "deep.cds", body + test_chunk("after", 1)), 0);
    ASSERT_EQ(io->objects.count, 2);
    test_obj* leaf = static_cast<test_obj*>(io->objects.first->object);
    EXPECT_STREQ(leaf->parent->name, ("g" + std::to_string(depth - 1)).c_str());
    EXPECT_EQ(static_cast<test_obj*>(io->objects.last->object)->parent, nullptr);

    // And they write back to the same bytes.
    ASSERT_EQ(c.create(path("deep2.cds").c_str()), 0);
    EXPECT_EQ(read_file("deep2.cds"), read_file("deep.cds"));
}

TEST_F(cds_test, sizes_come_out_the_same_however_they_are_patched_and_name_cycles_are_refused)
{
    // Enough chunks for the size fields to span many blocks of the file.
    cds_group_t* outer = c.add_group("outer");
    cds_group_t* inner = c.add_group("inner");
    inner->parent = outer;
    std::string expect_inner, expect_outer, expect_root;
    for (int i = 0; i < 3000; ++i) {
        std::string name = "c" + std::to_string(i);
        group_t* g = i % 3 == 0 ? nullptr : i % 3 == 1 ? (group_t*)outer : inner;
        add_test(io, name.c_str(), i, g);
        (g == inner ? expect_inner : g ? expect_outer : expect_root) += test_chunk(name, i);
    }
    expect_inner = hdr("GROU", (int32_t)expect_inner.size(), "inner") + expect_inner;
    expect_outer = expect_inner + expect_outer;
    std::string expect = hdr("GROU", (int32_t)expect_outer.size(), "outer") + expect_outer + expect_root;

    ASSERT_EQ(c.create(path("update.cds").c_str()), 0);
    EXPECT_EQ(read_file("update.cds"), expect);
    // A write-only stream cannot read back: every size is written at once.
    ASSERT_TRUE(c.Open(path("plain.cds").c_str(), OM_WB));
    ASSERT_EQ(c.write_all(), 0);
    c.Close();
    EXPECT_EQ(read_file("plain.cds"), expect);
    // Some sizes written at once, the rest at the end.
    mc_fail_after(0);
    ASSERT_EQ(c.create(path("mixed.cds").c_str()), 0);
    mc_fail_after(-1);
    EXPECT_EQ(read_file("mixed.cds"), expect);

    // A cycle of group names is refused.
    cds_group_t* r = c.add_group("r");
    cds_group_t* x = create_cds_group("x");
    cds_group_t* r2 = create_cds_group("r");
    c.chunk_grou.objects.insert(x);
    c.chunk_grou.objects.insert(r2);
    x->parent = r;
    r2->parent = x;
    EXPECT_EQ(c.create(path("cycle.cds").c_str()), -1);
    EXPECT_TRUE(log_has("write_all(): group r is nested inside itself"));
}

// The outer container puts a chunk before the embedded one.
TEST_F(cds_test, an_embedded_container_opens_inside_its_container)
{
    std::string inner = hdr("FILE", (int32_t)tga.size(), "x.tga") + tga;
    cds in;
    prepare(in);
    ASSERT_EQ(load(c, "outer.cds", test_chunk("pad", 1) + hdr("FILE", (int32_t)inner.size(), "inner.cds") + inner),
              0);
    ASSERT_EQ(c.open_file(in, "/inner.cds"), 0);
    ASSERT_EQ(in.read_all(), 0);
    CFile f;
    ASSERT_EQ(in.open_file(f, "/x.tga"), 0);
    std::string bytes(tga.size(), '\0');
    ASSERT_EQ(f.Read(&bytes[0], (int)bytes.size()), (int)bytes.size());
    EXPECT_EQ(bytes, tga);
}

TEST_F(cds_test, allocation_failures_while_reading_release_everything)
{
    write_file("in.cds", golden());
    for (int i = 0; i < 40; ++i) {
        cds t;
        prepare(t);
        mc_fail_after(i);
        int r = load(t, "in.cds");
        mc_fail_after(-1);
        if (r == 0) {
            EXPECT_EQ(t.chunk_file.objects.count, 1);
            break;
        }
    }
}

// The vantrel-cds tool as built next to the tests (ctest runs them from the
// build directory).
TEST_F(cds_test, the_tool_lists_and_extracts)
{
    const char* tool = "tools/vantrel-cds";
    if (!vantrel_test::program_built(tool))
        GTEST_SKIP() << tool << " is not built";
    std::string file = hdr("FILE", 3, "x.tga") + "abc";
    std::string bytes = hdr("GROU", 10, "a") + hdr("GROU", 0, "b") + hdr("GROU", (int)file.size(), "tex") + file;
    std::string p = write_file("c.cds", bytes), cut = write_file("cut.cds", bytes.substr(0, bytes.size() - 1)),
                tail = write_file("tail.cds", bytes + "GR");
    // The arguments, the exit status and a line of what the tool printed (both streams).
    const struct { std::string args; int status; const char* said; } runs[] = {
        {"list " + p, 0, "4 chunk(s)"},
        {"list " + p, 0, "/a/b/ (start=20 size=0)"},
        {"list " + p, 0, "../tex/x.tga (pos=46 size=3)"},
        {"extract " + p + " /tex/x.tga " + path("x.tga"), 0, ""},
        {"extract " + p + " /x.tga " + path("y.tga"), 1, "holds no embedded file /x.tga"},
        {"list " + cut, 1, "chunk FILE x.tga at byte 32 runs past the end of the file"},
        {"list " + tail, 0, "2 trailing byte(s)"},
        {"", 2, "usage: vantrel-cds list <container>"},
    };
    for (const auto& r : runs) {
        std::string out;
        EXPECT_EQ(vantrel_test::run_program(tool, r.args, &out), r.status) << r.args << "\n" << out;
        EXPECT_NE(out.find(r.said), std::string::npos) << r.args << "\n" << out;
    }
    EXPECT_EQ(read_file("x.tga"), "abc");
}

}  // namespace
