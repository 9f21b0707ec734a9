#include "primitives/base_primitive.h"

#include <cinttypes>

#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

base_primitive::base_primitive()
{
    _reset();
}

base_primitive::~base_primitive()
{
    _delete_verts();
}

void base_primitive::_reset()
{
    type = 0;
    va = nullptr;
    vi = nullptr;
    nverts = 0;
    vasize = 0;
    mat = 0;
    flags = 0;
}

void base_primitive::_delete_verts()
{
    if (flags & PRIM_OWNS_ARRAYS) {
        delete[] va;
        delete[] vi;
    }
    va = nullptr;
    vi = nullptr;
    nverts = 0;
    vasize = 0;
}

int base_primitive::_new_arrays(int _vasize, int _nverts, mrv_vertex** _va, uint32_t** _vi)
{
    *_va = nullptr;
    *_vi = nullptr;
    mrv_vertex* new_va = KD_NEW mrv_vertex[_vasize];
    if (!new_va) {
        ELOG(EL_MINDEBUG, "_alloc_verts(): unable to create vertice array(%d vertices)", _vasize);
        return -1;
    }
    // Value-initialised: entries beyond _vasize are the caller's to fill and
    // must not be read as garbage meanwhile.
    uint32_t* new_vi = KD_NEW uint32_t[_nverts]();
    if (!new_vi) {
        delete[] new_va;
        ELOG(EL_MINDEBUG, "_alloc_verts(): unable to create indice array (%d vertices)", _nverts);
        return -1;
    }
    for (int k = 0; k < _vasize && k < _nverts; ++k)
        new_vi[k] = (uint32_t)k;
    *_va = new_va;
    *_vi = new_vi;
    return 0;
}

void base_primitive::_take_arrays(mrv_vertex* _va, uint32_t* _vi, int _vasize, int _nverts)
{
    _delete_verts();
    va = _va;
    vi = _vi;
    vasize = _vasize;
    nverts = _nverts;
    flags |= PRIM_OWNS_ARRAYS;
}

int base_primitive::_alloc_verts(int _vasize, int _nverts)
{
    if (_vasize < 1) {
        ELOG(EL_MINDEBUG, "n_poly::_alloc_verts(): unable to allocate %d vertices", _vasize);
        return -1;
    }
    _delete_verts();
    if (_nverts == -1)
        _nverts = _vasize;
    if (_nverts < 0) {
        ELOG(EL_MINDEBUG, "_alloc_verts(): unable to create indice array (%d vertices)", _nverts);
        return -1;
    }
    mrv_vertex* new_va;
    uint32_t* new_vi;
    if (_new_arrays(_vasize, _nverts, &new_va, &new_vi) < 0)
        return -1;
    _take_arrays(new_va, new_vi, _vasize, _nverts);
    return 0;
}

void base_primitive::copy(base_primitive* src)
{
    if (!src || src == this)
        return;
    _delete_verts();
    type = src->type;
    va = src->va;
    vi = src->vi;
    nverts = src->nverts;
    vasize = src->vasize;
    mat = src->mat;
    flags = src->flags & ~(uint32_t)PRIM_OWNS_ARRAYS;
}

bool are_equal_verts(mrv_vertex* a, mrv_vertex* b)
{
    if (!a || !b) {
        ELOG(EL_MINDEBUG, "are_equal_verts(): invalid parameters");
        return false;
    }
    return are_equal(a->v, b->v, 0.0f) && are_equal(a->n, b->n, 0.0f) && a->t[0] == b->t[0] &&
           a->t[1] == b->t[1];
}

void copy_vert(mrv_vertex* dst, mrv_vertex* src)
{
    if (!dst || !src) {
        ELOG(EL_MINDEBUG, "copy_vert(): invalid parameters");
        return;
    }
    for (int i = 0; i < 3; ++i) {
        dst->v[i] = src->v[i];
        dst->n[i] = src->n[i];
    }
    dst->t[0] = src->t[0];
    dst->t[1] = src->t[1];
}

int is_vert_in_array(mrv_vertex* array, int count, mrv_vertex* vert)
{
    if (!array || !vert)
        return -1;
    for (int i = 0; i < count; ++i)
        if (are_equal_verts(&array[i], vert))
            return i;
    return -1;
}

void dump_mrv_vertex(FILE* f, mrv_vertex* vert, const char* tabs)
{
    if (!f || !vert || !tabs)
        return;
    fprintf(f, "%sv=(%.4f, %.4f, %.4f) ", tabs, vert->v[0], vert->v[1], vert->v[2]);
    fprintf(f, "N=(%.4f, %.4f, %.4f) ", vert->n[0], vert->n[1], vert->n[2]);
    fprintf(f, "t=(%.4f, %.4f)\n", vert->t[0], vert->t[1]);
}

void dump_base_primitive(FILE* f, base_primitive* p, const char* tabs)
{
    if (!f || !tabs || !VALID_PRIMITIVE(p))
        return;
    p->groupable_t::dump(f, tabs);
    fprintf(f, "%stype=%d mat=%d flags=0x%08x\n", tabs, p->type, p->mat, p->flags);
    fprintf(f, "%svertice array: %d vertices\n", tabs, p->vasize);
    char prefix[300];
    for (int k = 0; k < p->vasize; ++k) {
        snprintf(prefix, sizeof prefix, "%s[%d]", tabs, k);
        dump_mrv_vertex(f, &p->va[k], prefix);
    }
    fprintf(f, "indice array (%d vertices): ", p->nverts);
    for (int k = 0; k < p->nverts; ++k)
        fprintf(f, "%d ", (int)p->vi[k]);
    fprintf(f, "\n");
}

}  // namespace vantrel
