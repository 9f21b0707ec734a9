// The vector and matrix functions of scripts.
#include "base_script/script_func.h"
#include "base_script/script_sets.h"
#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "kdbase/str_const.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

namespace {

// Scripts receive int results; these two answer with bool.
int script_is_zero_v(const float* a)
{
    return is_zero_v(a) ? 1 : 0;
}

int script_are_equal(const float* a, const float* b, float eps)
{
    return are_equal(a, b, eps) ? 1 : 0;
}

// In the order of registration; the fourth field marks the matrix arguments.
script_func support_funcs[] = {
    {"set_v", set_v, "v=Fffff"},
    {"copy_v", copy_v, "v=FF"},
    {"add_v", add_v, "v=FF"},
    {"add_vr", add_vr, "F=FFF"},
    {"sub_v", sub_v, "v=FF"},
    {"sub_vr", sub_vr, "F=FFF"},
    {"multscalar_v", multscalar_v, "v=Ff"},
    {"multscalar_vr", multscalar_vr, "F=FFf"},
    {"divscalar_v", divscalar_v, "v=Ff"},
    {"divscalar_vr", divscalar_vr, "F=FFf"},
    {"dotproduct_v", dotproduct_v, "f=FF"},
    {"is_zero_v", script_is_zero_v, "i=F"},
    {"len_v", len_v, "f=F"},
    {"normalize_v", normalize_v, "v=F"},
    {"normalize_vr", normalize_vr, "F=FF"},
    {"crossproduct_v", crossproduct_v, "v=FF"},
    {"crossproduct_vr", crossproduct_vr, "F=FFF"},
    {"orient_axes", orient_axes, "v=FF", "mv"},
    {"_set_axes", _set_axes, "v=FFF", "mvv"},
    {"set_axes", set_axes, "v=FFF", "mvv"},
    {"are_equal", script_are_equal, "i=FFf"},
    {"makeIdentityMatrix", makeIdentityMatrix, "v=F", "m"},
    {"multmatrix_v", multmatrix_v, "v=FF", "vm"},
    {"multmatrix_vr", multmatrix_vr, "v=FFF", "vmv"},
    {"div_v", div_v, "v=FF"},
    {"div_vr", div_vr, "v=FFF"},
    {"mult_v", mult_v, "v=FF"},
    {"mult_vr", mult_vr, "v=FFF"},
    {"get_closest_vector_on_line", get_closest_vector_on_line, "v=FFFF"},
    {"seg_directed_distance", seg_directed_distance, "f=FFFF"},
    {"ray_directed_distance", ray_directed_distance, "f=FFFF"},
    {"ray_sphere_directed_distance", ray_sphere_directed_distance, "f=FFFf"},
    {"intersect", intersect, "i=FFFFF"},
    {"invert_v", invert_v, "v=F"},
    {"invert_vr", invert_vr, "v=FF"},
    {"multmatrix_mr", multmatrix_mr, "v=FFF", "mmm"},
    {"multmatrix_m", multmatrix_m, "v=FF", "mm"},
    {"copy_m", copy_m, "v=FF", "mm"},
    {"make_translate_m", make_translate_m, "v=Ffff", "m"},
    {"make_rotatex_m", make_rotatex_m, "v=Ff", "m"},
    {"make_rotatey_m", make_rotatey_m, "v=Ff", "m"},
    {"make_rotatez_m", make_rotatez_m, "v=Ff", "m"},
    {"make_rotate_m", make_rotate_m, "v=Ffff", "m"},
    {"interpolate_v", interpolate_v, "v=FFFf"},
    {"get_const", get_const, "i=s"},
};

}  // namespace

int support_add_funcs(r_struct& rs)
{
    for (script_func& f : support_funcs) {
        if (rs.add(&f) != 0) {
            ELOG(EL_MAJOR, "support_script_funcs: unable to export all functions");
            return -1;
        }
    }
    add_const_a(r_struct_get_const());
    return 0;
}

}  // namespace vantrel
