#include "primitives/model.h"

#include <cfloat>

#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

void delete_mesh_array(model_t* m)
{
    if (m->meshes)
        for (int i = 0; i < m->nmeshes; ++i)
            delete m->meshes[i];
    delete[] m->meshes;
}

}  // namespace

model_t::model_t()
    : children(nullptr), meshes(nullptr), nchildren(0), nmeshes(0), skin(nullptr), shared_meshes(nullptr)
{
    makeIdentityMatrix(matrix);
}

model_t::~model_t()
{
    delete_meshes();
}

void model_t::delete_meshes()
{
    if (children)
        for (int i = 0; i < nchildren; ++i)
            delete children[i];
    delete[] children;
    children = nullptr;
    nchildren = 0;
    if (owns_meshes())
        delete_mesh_array(this);
    meshes = nullptr;
    nmeshes = 0;
    shared_meshes = nullptr;
}

int model_t::alloc_meshes(int n)
{
    delete_meshes();
    if (n < 0) {
        ELOG(EL_MINDEBUG, "alloc_meshes(): invalid mesh count %d", n);
        return -1;
    }
    // Even an empty array is allocated: a model with one is usable (VALID_MODEL).
    meshes = KD_NEW mesh_t*[n]();
    if (!meshes)
        return -1;
    nmeshes = n;
    return 0;
}

int model_t::get_bbox(float* _min_v, float* _max_v)
{
    CHECK_PTR(VALID_MODEL(this), -1);
    CHECK_PTR(_min_v, -1);
    CHECK_PTR(_max_v, -1);
    set_v3(_min_v, FLT_MAX, FLT_MAX, FLT_MAX);
    set_v3(_max_v, -FLT_MAX, -FLT_MAX, -FLT_MAX);
    for (int i = 0; i < nmeshes; ++i) {
        mesh_t* m = meshes[i];
        if (!m || !m->va)
            continue;
        for (int k = 0; k < m->vasize; ++k) {
            float p[3];
            multmatrix_v3r(p, m->matrix, m->va[k].v);
            for (int j = 0; j < 3; ++j) {
                if (p[j] < _min_v[j])
                    _min_v[j] = p[j];
                if (p[j] > _max_v[j])
                    _max_v[j] = p[j];
            }
        }
    }
    return 0;
}

int model_t::copy(model_t* _m)
{
    CHECK_PTR(_m, -1);
    if (_m == this)
        return 0;
    group_t::copy(_m);
    // The same array (shared either way round) keeps its one owner; another
    // one is let go of, and freed only when it was ours.
    if (meshes != _m->meshes) {
        if (owns_meshes())
            delete_mesh_array(this);
        meshes = shared_meshes = _m->meshes;
    }
    nmeshes = _m->nmeshes;
    skin = _m->skin;
    copy_m(matrix, _m->matrix);
    return 0;
}

int model_t::replace(model_t* _m)
{
    CHECK_PTR(_m, -1);
    if (_m == this)
        return 0;
    bool owner = _m->owns_meshes();
    copy(_m);
    if (owner)
        shared_meshes = nullptr;
    _m->shared_meshes = nullptr;
    _m->meshes = nullptr;
    _m->nmeshes = 0;
    _m->skin = nullptr;
    return 0;
}

void model_t::apply_matrix_to_children(float* m)
{
    if (!m)
        m = matrix;
    float r[16];
    if (meshes) {
        for (int i = 0; i < nmeshes; ++i) {
            if (!meshes[i])
                continue;
            multmatrix_mr(r, m, meshes[i]->matrix);
            copy_m(meshes[i]->matrix, r);
        }
    }
    if (children)
        for (int i = 0; i < nchildren; ++i)
            if (children[i])
                children[i]->apply_matrix_to_children(m);
    makeIdentityMatrix(m);
}

void model_t::dump(FILE* _f, const char* _tabs)
{
    CHECK_PTR_V(_f && _tabs);
    group_t::dump(_f, _tabs);
    _dump_m(_f, matrix, _tabs);
    char child_tabs[300];
    snprintf(child_tabs, sizeof child_tabs, "%s..", _tabs);
    if (children) {
        for (int i = 0; i < nchildren; ++i) {
            if (!children[i])
                continue;
            children[i]->dump(_f, child_tabs);
            fprintf(_f, "%s\n", _tabs);
        }
    }
    if (meshes) {
        for (int i = 0; i < nmeshes; ++i) {
            if (!meshes[i])
                continue;
            meshes[i]->dump(_f, _tabs);
            fprintf(_f, "%s\n", _tabs);
        }
    }
    fprintf(_f, "+++end model\n");
}

}  // namespace vantrel
