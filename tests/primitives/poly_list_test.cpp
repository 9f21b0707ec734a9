#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "kdbase/d_list.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "primitives/poly_list.h"
#include "tests/common/log_fixture.h"
#include "tests/primitives/geometry_helpers.h"

using namespace vantrel;
using geometry_test::capture;
using geometry_test::expect_pos;

namespace {

// The lists a caller passes: the meshes list owns the meshes; polygons that
// lie in a mesh's array belong to that mesh, the others to the caller.
struct lists {
    d_list polys{0};
    d_list meshes{1};

    ~lists()
    {
        while (polys.first) {
            n_poly* p = static_cast<n_poly*>(polys.first->object);
            polys.remove(polys.first);
            if (!in_mesh(p))
                delete p;
        }
    }
    bool in_mesh(n_poly* p)
    {
        for (d_node* n = meshes.first; n; n = n->next) {
            mesh_t* m = static_cast<mesh_t*>(n->object);
            if (m->polys && p >= m->polys && p < m->polys + m->npolys)
                return true;
        }
        return false;
    }
    mesh_t* mesh(int i) { return static_cast<mesh_t*>(meshes.get_node_at_index(i)->object); }
    n_poly* poly(int i) { return static_cast<n_poly*>(polys.get_node_at_index(i)->object); }
};

class poly_list_test : public vantrel_test::log_test {
protected:
    void TearDown() override
    {
        mc_fail_after(-1);
        log_test::TearDown();
    }
    int load(const std::string& text, lists& l, bool with_polys = true, bool with_meshes = true)
    {
        std::string file = write_file("polys.txt", text);
        return load_poly_list(file.c_str(), with_polys ? &l.polys : nullptr, with_meshes ? &l.meshes : nullptr);
    }
};

const char triangle_mesh[] =
    "[mesh]\n"
    "[poly]\n"
    "v 0 0 0\n"
    "v 1 0 0\n"
    "v 0 1 0\n"
    "[end poly]\n"
    "[end mesh]\n";

TEST_F(poly_list_test, one_triangle_number_forms_normals_and_materials)
{
    lists l;
    ASSERT_EQ(load(triangle_mesh, l), 0);
    ASSERT_EQ(l.meshes.count, 1);
    mesh_t* m = l.mesh(0);
    ASSERT_EQ(m->npolys, 1);
    EXPECT_EQ(m->vasize, 3);
    EXPECT_EQ(m->flags & PRIM_OWNS_ARRAYS, 1u);
    EXPECT_EQ(m->polys[0].va, m->va);
    expect_pos(m->polys[0], 1, {1, 0, 0});
    EXPECT_FLOAT_EQ(m->polys[0].normal[2], 1);  // from the vertex order
    ASSERT_EQ(l.polys.count, 1);
    EXPECT_EQ(l.poly(0), &m->polys[0]);
    float id[16];
    makeIdentityMatrix(id);
    EXPECT_TRUE(are_equal_m(m->matrix, id, 0));
    // Separators and number forms.
    lists l2;
    ASSERT_EQ(load("[poly]\nv=(1.5, -2,3e1)\nv 1.5\t-2  30\nv,1.5,-2,30,99\nv 7\nv nan inf 0x10\nt 0.25,0.75\n[end poly]\n",
                   l2),
              0);
    ASSERT_EQ(l2.polys.count, 1);
    n_poly* p = l2.poly(0);
    ASSERT_EQ(p->nverts, 5);
    for (int k = 0; k < 3; ++k)
        expect_pos(*p, k, {1.5f, -2, 30});
    expect_pos(*p, 3, {7, 0, 0});  // missing numbers read as 0
    expect_pos(*p, 4, {0, 0, 0});  // so do words that are not numbers
    EXPECT_EQ(p->va[4].t[0], 0.25f);
    EXPECT_EQ(p->va[4].t[1], 0.75f);
    EXPECT_EQ(p->va[0].t[0], 0);
    // Normals and materials.
    lists l3;
    ASSERT_EQ(load("N 0 0 -1\n"
                   "[mesh]\n"
                   "[poly]\nv 0 0 0\nv 0 1 0\nv 1 0 0\nm 4\n[end poly]\n"
                   "N 1 0 0\n"
                   "[poly]\nv 0 0 1\nv 1 0 1\nv 0 1 1\n[end poly]\n"
                   "m 9\n"
                   "[end mesh]\n"
                   "[poly]\nv 5 5 5\nv 6 5 5\n[end poly]\n",
                   l3),
              0);
    m = l3.mesh(0);
    ASSERT_EQ(m->npolys, 2);
    EXPECT_EQ(m->polys[0].mat, 4);
    EXPECT_EQ(m->polys[1].mat, -1);  // the material is reset after each polygon
    EXPECT_EQ(m->mat, 9);
    EXPECT_FLOAT_EQ(m->polys[0].normal[2], -1);  // clockwise: facing down
    EXPECT_FLOAT_EQ(m->polys[1].normal[2], 1);
    EXPECT_EQ(m->polys[0].va[m->polys[0].vi[0]].n[2], -1);
    EXPECT_EQ(m->polys[1].va[m->polys[1].vi[0]].n[0], 1);
    ASSERT_EQ(l3.polys.count, 3);
    EXPECT_EQ(l3.poly(2)->mat, -1);  // and after the mesh
    EXPECT_FALSE(l3.in_mesh(l3.poly(2)));
}

// The result in short: per mesh "M" and the vertex counts of its polygons,
// then per listed polygon its vertex count, "m" when it lies in a mesh, and
// its last vertex.
std::string shape(lists& l)
{
    std::string s;
    for (d_node* n = l.meshes.first; n; n = n->next) {
        mesh_t* m = static_cast<mesh_t*>(n->object);
        s += "M";
        for (int i = 0; i < m->npolys; ++i)
            s += (i ? "," : "") + std::to_string(m->polys[i].nverts);
        s += " ";
    }
    s += "|";
    char b[96];
    for (d_node* n = l.polys.first; n; n = n->next) {
        n_poly* p = static_cast<n_poly*>(n->object);
        const float* v = p->nverts ? geometry_test::pos(*p, p->nverts - 1) : nullptr;
        snprintf(b, sizeof b, " %d%s@%g,%g,%g", p->nverts, l.in_mesh(p) ? "m" : "", v ? v[0] : -1, v ? v[1] : -1,
                 v ? v[2] : -1);
        s += b;
    }
    return s;
}

TEST_F(poly_list_test, items_open_close_and_are_handed_over_as_the_format_says)
{
    const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\n", tri_poly = "[poly]\n" + tri + "[end poly]\n";
    std::string crlf;
    for (char c : std::string(triangle_mesh))
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    // A 10,000-character comment whose pieces of 255 are lines of their own:
    // the piece that starts at character 765 reads as a vertex.
    std::string long_line(10000, 'x');
    long_line.replace(765, 9, "v 7 8 9  ");
    const struct {
        std::string text;
        bool polys, meshes;
        int rc;
        const char* shape;
        const char* log;
    } rows[] = {
        // A polygon finished before a mesh is taken by the next mesh that ends.
        {tri_poly + "[mesh]\n[poly]\nv 0 0 2\nv 1 0 2\nv 0 1 2\n[end poly]\n[end mesh]\n"
                    "[poly]\nv 0 0 3\nv 1 0 3\nv 0 1 3\n[end poly]\n",
         true, true, 0, "M3,3 | 3m@0,1,0 3m@0,1,2 3@0,1,3", nullptr},
        // Without a polygon list the leftovers are released (ASan checks).
        {tri_poly + "v 9 9 9\n", false, true, 0, "|", nullptr},
        // Without a mesh list every polygon ends up outside a mesh, and a
        // "[mesh]" still ends an open polygon unfinished.
        {triangle_mesh, true, false, 0, "| 3@0,1,0", nullptr},
        {"[poly]\nv 0 0 0\nv 1 0 0\n[mesh]\n[end poly]\n" + std::string(triangle_mesh), true, false, 0, "| 3@0,1,0",
         nullptr},
        // A new "[poly]" drops the open one with its vertices; vertices read
        // outside a polygon go to the next one finished.
        {"[poly]\nv 0 0 0\nv 1 0 0\n[poly]\nv 0 1 0\n[end poly]\nv 5 5 5\n[poly]\nv 6 5 5\n[end poly]\n", true, true, 0,
         "| 1@0,1,0 2@6,5,5", nullptr},
        // "[end mesh]" leaves an open polygon open.
        {"[mesh]\n" + tri_poly + "[poly]\nv 2 2 2\n[end mesh]\nv 3 3 3\nv 2 3 3\n[end poly]\n", true, true, 0,
         "M3 | 3m@0,1,0 3@2,3,3", nullptr},
        // A polygon without vertices cannot be made.
        {"[mesh]\n[poly]\n" + tri + "[mesh]\n[poly]\n[end poly]\n", true, true, -1, nullptr,
         "load_poly_list(): unable to create curr_poly vertices"},
        // "t" without a vertex, after "[end poly]", or after a discarded polygon.
        {"[poly]\nt 1 1\nv 0 0 0\n", true, true, -1, "|", "invalid pointer: curr_lv=0"},
        {tri_poly + "t 0.5 0.5\n", true, true, -1, "|", "invalid pointer: curr_lv=0"},
        {"[mesh]\n[poly]\nv 0 0 0\n[mesh]\nt 1 1\n", true, true, -1, nullptr, "invalid pointer: curr_lv=0"},
        // An empty mesh fails and stays in the caller's list as read.
        {"[mesh]\n[end mesh]\n", true, true, -1, "M |", "unify_vertices(): invalid mesh"},
        {crlf, true, true, 0, "M3 | 3m@0,1,0", nullptr},
        {"[poly]\nv 0 0 0\nv 1 0 0\n" + long_line + "\n[end poly]\n", true, true, 0, "| 3@7,8,9", nullptr},
        // A keyword split from its line feed is no keyword.
        {std::string(255, ' ') + "[poly]\n" + std::string(254, ' ') + "[poly]\nv 1 1 1\nv 2 1 1\n[end poly]\n", true,
         true, 0, "| 2@2,1,1", nullptr},
    };
    for (auto& r : rows) {
        SCOPED_TRACE(r.text.substr(0, 80));
        clear_log();
        lists l;
        EXPECT_EQ(load(r.text, l, r.polys, r.meshes), r.rc);
        EXPECT_TRUE(!r.shape || shape(l) == r.shape) << shape(l);
        EXPECT_TRUE(!r.log || log_has(r.log));
    }
    // An open mesh at a new "[mesh]" and an open polygon at the end are
    // discarded whether the mesh list owns its meshes or not.
    for (int owning = 0; owning < 2; ++owning) {
        lists l;
        l.meshes.delete_elements = owning;
        ASSERT_EQ(load("[mesh]\n" + tri_poly + "[mesh]\n" + tri_poly + "[end mesh]\n[mesh]\n[poly]\nv 4 4 4\n", l), 0);
        EXPECT_EQ(shape(l), "M3,3 | 3m@0,1,0 3m@0,1,0");
        if (!owning) {
            mesh_t* m = l.mesh(0);
            l.polys.delete_nodes();
            delete m;
            l.meshes.delete_nodes();
        }
    }
}

TEST_F(poly_list_test, every_allocation_failure_bad_argument_and_missing_file_is_clean)
{
    const std::string text =
        "[poly]\nv 0 0 0\nv 1 0 0\nv 0 1 0\nm 2\n[end poly]\n"
        "[mesh]\n[poly]\nv 0 0 2\nv 1 0 2\nt 1 1\nv 0 1 2\n[end poly]\n"
        "[poly]\nv 0 0 2\nv 1 1 2\nv 0 1 2\n[end poly]\n[end mesh]\n"
        "[poly]\nv 0 0 3\nv 1 0 3\nv 0 1 3\n[end poly]\n";
    std::string file = write_file("polys.txt", text);
    int fail = 0;
    for (;; ++fail) {
        lists l;
        mc_fail_after(fail);
        int r = load_poly_list(file.c_str(), &l.polys, &l.meshes);
        mc_fail_after(-1);
        if (r == 0) {
            EXPECT_EQ(l.polys.count, 4);
            break;
        }
        ASSERT_LT(fail, 500);
    }
    EXPECT_GT(fail, 20);
    // Bad arguments and missing files.
    d_list polys;
    EXPECT_EQ(load_poly_list((const char*)nullptr, &polys, nullptr), -1);
    EXPECT_TRUE(log_has("load_poly_list(_filename): invalid _filename"));
    std::string missing = path("missing.txt");
    EXPECT_EQ(load_poly_list(missing.c_str(), &polys, nullptr), -1);
    EXPECT_TRUE(log_has("load_poly_list(_filename): unable to open " + missing + " (No such file or directory)"));

    // The stream form reads from where the stream stands.
    FILE* f = fopen(write_file("s.txt", triangle_mesh).c_str(), "r");
    ASSERT_NE(f, nullptr);
    lists l;
    EXPECT_EQ(load_poly_list(f, &l.polys, &l.meshes), 0);
    fclose(f);
    EXPECT_EQ(l.meshes.count, 1);
}

}  // namespace
