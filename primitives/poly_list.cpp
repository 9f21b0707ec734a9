#include "primitives/poly_list.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/platform.h"
#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

const char number_separators[] = "=(, \t";

bool is_separator(char c)
{
    return c && strchr(number_separators, c);
}

// The first n numbers of the tokens of s; a token that is not a number, or
// one missing, reads as 0.
void scan_numbers(const char* s, float* out, int n)
{
    for (int i = 0; i < n; ++i) {
        while (is_separator(*s))
            ++s;
        double v = 0;
        if (*s)
            scan_decimal(s, &v);
        out[i] = (float)v;
        while (*s && !is_separator(*s))
            ++s;
    }
}

int scan_int(const char* s)
{
    while (is_separator(*s))
        ++s;
    long long v = 0;
    scan_integer(s, &v);
    return v < INT_MIN ? INT_MIN : (v > INT_MAX ? INT_MAX : (int)v);
}

// Takes o out of l (when listed there) and destroys it.
void unlist_and_delete(d_list* l, unknown* o)
{
    if (l && l->get_node(o)) {
        bool owned = l->delete_elements;
        l->remove(o);
        if (owned)
            return;
    }
    delete o;
}

class poly_list_reader {
public:
    poly_list_reader(d_list* _polys, d_list* _meshes) : polys(_polys), meshes(_meshes) {}
    poly_list_reader(const poly_list_reader&) = delete;
    poly_list_reader& operator=(const poly_list_reader&) = delete;
    ~poly_list_reader()
    {
        clear(verts);
        clear(finished);
    }

    int line(const char* s)
    {
        if (!strcmp(s, "[end poly]\n")) {
            // The vertices are about to go; a later "t" must not reach them.
            curr_lv = nullptr;
            if (curr_poly)
                return end_poly();
        }
        if (!strcmp(s, "[poly]\n"))
            return start_poly();
        if (!strcmp(s, "[end mesh]\n") && curr_mesh)
            return end_mesh();
        if (!strcmp(s, "[mesh]\n")) {
            if (meshes)
                return start_mesh();
            // No mesh is made, but an open polygon ends unfinished all the same.
            discard_poly();
            return 0;
        }
        switch (s[0]) {
        case 'v':
            return vertex(s + 1);
        case 't':
            CHECK_PTR(curr_lv, -1);
            scan_numbers(s + 1, curr_lv->t, 2);
            break;
        case 'N':
            scan_numbers(s + 1, normal, 3);
            break;
        case 'm':
            mat = scan_int(s + 1);
            break;
        default:
            break;
        }
        return 0;
    }

    int finish()
    {
        discard_open();
        while (finished.first) {
            unknown* p = finished.first->object;
            if (polys && polys->insert(p) < 0) {
                ELOG(EL_MINDEBUG, "load_poly_list(): unable to insert rogue polys in _polys");
                return -1;
            }
            if (!polys)
                delete p;
            finished.remove(finished.first);
        }
        return 0;
    }

private:
    d_list* polys;
    d_list* meshes;
    d_list verts;     // vertices read since the last polygon ended (not owning: see clear)
    d_list finished;  // polygons not yet taken by a mesh, the open one included
    n_poly* curr_poly = nullptr;
    mesh_t* curr_mesh = nullptr;
    mrv_vertex* curr_lv = nullptr;
    float normal[3] = {0, 0, 0};
    int mat = 0;

    static void clear(d_list& l)
    {
        while (l.first) {
            unknown* o = l.first->object;
            l.remove(l.first);
            delete o;
        }
    }

    // An unfinished polygon goes with the vertices read for it.
    void discard_poly()
    {
        if (!curr_poly)
            return;
        unlist_and_delete(&finished, curr_poly);
        curr_poly = nullptr;
        clear(verts);
        curr_lv = nullptr;
    }

    void discard_open()
    {
        discard_poly();
        if (curr_mesh) {
            unlist_and_delete(meshes, curr_mesh);
            curr_mesh = nullptr;
        }
    }

    int end_poly()
    {
        if (curr_poly->_alloc_verts(verts.count) < 0) {
            ELOG(EL_MINDEBUG, "load_poly_list(): unable to create curr_poly vertices");
            return -1;
        }
        int k = 0;
        for (d_node* n = verts.first; n; n = n->next)
            copy_vert(&curr_poly->va[k++], static_cast<mrv_vertex*>(n->object));
        clear(verts);
        curr_poly->calculate_normal(nullptr);
        curr_poly->mat = mat;
        curr_poly = nullptr;
        mat = -1;
        return 0;
    }

    int start_poly()
    {
        discard_poly();
        n_poly* p = KD_NEW n_poly;
        if (!p) {
            ELOG(EL_MINDEBUG, "load_poly_list(): unable to create new polygon");
            return -1;
        }
        p->flags |= PRIM_OWNS_ARRAYS;
        if (finished.insert(p) < 0) {
            delete p;
            ELOG(EL_MINDEBUG, "load_poly_list(): unable to insert into p");
            return -1;
        }
        curr_poly = p;
        return 0;
    }

    int end_mesh()
    {
        // An open polygon is not finished: it stays for the next mesh.
        int n = finished.count - (curr_poly ? 1 : 0);
        if (curr_mesh->_alloc_polys(n) < 0)
            return -1;
        int k = 0;
        for (d_node* node = finished.first; node && k < n;) {
            n_poly* p = static_cast<n_poly*>(node->object);
            d_node* next = node->next;
            if (p != curr_poly) {
                n_poly* copy = &curr_mesh->polys[k++];
                copy->copy(p);
                copy->flags |= PRIM_OWNS_ARRAYS;
                p->flags &= ~(uint32_t)PRIM_OWNS_ARRAYS;
                finished.remove(node);
                delete p;
                if (polys && polys->insert(copy) < 0) {
                    ELOG(EL_MINDEBUG, "load_poly_list(): unable to insert mesh poly into _polys");
                    return -1;
                }
            }
            node = next;
        }
        if (curr_mesh->unify_vertices() < 0)
            return -1;
        curr_mesh->mat = mat;
        curr_mesh = nullptr;
        mat = -1;
        return 0;
    }

    int start_mesh()
    {
        discard_open();
        mesh_t* m = KD_NEW mesh_t;
        if (!m) {
            ELOG(EL_MINDEBUG, "load_poly_list(): unable to create new mesh");
            return -1;
        }
        m->flags |= PRIM_OWNS_ARRAYS;
        if (meshes->insert(m) < 0) {
            delete m;
            ELOG(EL_MINDEBUG, "load_poly_list(): unable to insert curr_mesh into _meshes");
            return -1;
        }
        curr_mesh = m;
        return 0;
    }

    int vertex(const char* s)
    {
        mrv_vertex* v = KD_NEW mrv_vertex;
        if (!v) {
            ELOG(EL_MINDEBUG, "load_poly_list(): unable to create vertex");
            return -1;
        }
        scan_numbers(s, v->v, 3);
        copy_v3(v->n, normal);
        v->t[0] = v->t[1] = 0;
        if (verts.insert(v) < 0) {
            delete v;
            ELOG(EL_MINDEBUG, "load_poly_list(): unable to insert vertex into v");
            return -1;
        }
        curr_lv = v;
        return 0;
    }
};

}  // namespace

int load_poly_list(FILE* f, d_list* polys, d_list* meshes)
{
    if (!f) {
        ELOG(EL_MINDEBUG, "load_poly_list(): invalid parameters");
        return -1;
    }
    poly_list_reader reader(polys, meshes);
    char buf[256];
    while (read_line(buf, sizeof buf, f))
        if (reader.line(buf) < 0)
            return -1;
    return reader.finish();
}

int load_poly_list(const char* _filename, d_list* polys, d_list* meshes)
{
    if (!_filename) {
        ELOG(EL_MINDEBUG, "load_poly_list(_filename): invalid _filename");
        return -1;
    }
    FILE* f = fopen(_filename, "r");
    if (!f) {
        ELOG(EL_MINDEBUG, "load_poly_list(_filename): unable to open %s (%s)", _filename, strerror(errno));
        return -1;
    }
    int result = load_poly_list(f, polys, meshes);
    fclose(f);
    return result;
}

void dump_vert_list(FILE* f, d_list* verts)
{
    if (!f || !verts) {
        ELOG(EL_MINDEBUG, "dump_vert_list(): invalid parameters");
        return;
    }
    fprintf(f, "+++[vertex list: %d vertices\n", verts->count);
    for (d_node* n = verts->first; n; n = n->next)
        dump_v(f, static_cast<mrv_vertex*>(n->object)->v);
    fprintf(f, "---end vertex list]\n");
}

}  // namespace vantrel
