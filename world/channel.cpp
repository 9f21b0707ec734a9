#include "world/channel.h"

#include <climits>
#include <cinttypes>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "primitives/mesh.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

// ---- keyframes ---------------------------------------------------------------

keyframe::keyframe() : duration(0)
{
}

void keyframe::dump(FILE*, const char*)
{
}

bool keyframe::are_equal(keyframe* _kf)
{
    CHECK_PTR(_kf, false);
    return duration == _kf->duration;
}

// How far into a keyframe time lies, in double precision; at its end when
// it lasts 0 ms.
static float fraction(unsigned int time, uint32_t duration)
{
    return duration == 0 ? 1.0f : (float)((double)time / (double)duration);
}

static mesh_t* as_mesh(unknown* object)
{
    return static_cast<mesh_t*>(object);
}

kf_mesh_mtrans_t::kf_mesh_mtrans_t()
{
    set_v(start_v, 0, 0, 0, 0);
    set_v(end_v, 0, 0, 0, 0);
    set_v(delta_v, 0, 0, 0, 0);
}

int kf_mesh_mtrans_t::bind(unknown* m)
{
    CHECK_PTR(m, -1);
    add_vr(end_v, as_mesh(m)->matrix + 12, delta_v);
    return 0;
}

int kf_mesh_mtrans_t::start(unknown* m, unsigned int)
{
    CHECK_PTR(m, -1);
    copy_v3(start_v, as_mesh(m)->matrix + 12);
    return 0;
}

int kf_mesh_mtrans_t::interpolate_object(unknown* m, unsigned int time)
{
    CHECK_PTR(m, -1);
    interpolate_v(as_mesh(m)->matrix + 12, start_v, end_v, fraction(time, duration));
    return 0;
}

void kf_mesh_mtrans_t::dump(FILE* _f, const char* prefix)
{
    CHECK_PTR_V(_f);
    if (!prefix)
        prefix = "";
    fprintf(_f, "%s-[%d ms\n", prefix, (int)duration);
    fprintf(_f, "%s..start_v ", prefix);
    dump_v(_f, start_v);
    fprintf(_f, "%s..end_v ", prefix);
    dump_v(_f, end_v);
    fprintf(_f, "%s..delta_v ", prefix);
    dump_v(_f, delta_v);
}

bool kf_mesh_mtrans_t::are_equal(keyframe* _kf)
{
    CHECK_PTR(_kf, false);
    auto* o = dynamic_cast<kf_mesh_mtrans_t*>(_kf);
    return o && duration == o->duration && vantrel::are_equal(delta_v, o->delta_v, 0.0001f);
}

kf_mesh_quat_t::kf_mesh_quat_t()
{
    set_v(start_q, 0, 0, 0, 1);
    set_v(end_q, 0, 0, 0, 1);
    set_v(rel_q, 0, 0, 0, 1);
}

// The mesh's orientation: its matrix with unit axes and no translation, as
// a quaternion.
static void mesh_orientation(mesh_t* m, float* q)
{
    float r[16];
    copy_m(r, m->matrix);
    for (int row = 0; row < 3; ++row)
        normalize_v(r + 4 * row);
    set_v(r + 12, 0, 0, 0, 1);
    convert_m2q(q, r);
}

int kf_mesh_quat_t::bind(unknown* m)
{
    CHECK_PTR(m, -1);
    float q[4];
    mesh_orientation(as_mesh(m), q);
    mult_qr(end_q, rel_q, q);
    normalize_q(end_q);
    return 0;
}

int kf_mesh_quat_t::start(unknown* m, unsigned int)
{
    CHECK_PTR(m, -1);
    mesh_orientation(as_mesh(m), start_q);
    return 0;
}

int kf_mesh_quat_t::interpolate_object(unknown* m, unsigned int time)
{
    CHECK_PTR(m, -1);
    float q[4], r[16];
    slerp_qr(q, start_q, end_q, fraction(time, duration));
    normalize_q(q);
    convert_q2m(r, q);
    float* mm = as_mesh(m)->matrix;
    for (int row = 0; row < 3; ++row) {
        float scale = len_v(mm + 4 * row);
        multscalar_vr(mm + 4 * row, r + 4 * row, scale);
    }
    return 0;
}

void kf_mesh_quat_t::dump(FILE* _f, const char* prefix)
{
    CHECK_PTR_V(_f);
    if (!prefix)
        prefix = "";
    fprintf(_f, "%s-[%d ms\n", prefix, (int)duration);
    fprintf(_f, "%s..start_q ", prefix);
    dump_q(_f, start_q, "");
    fprintf(_f, "%s..end_q ", prefix);
    dump_q(_f, end_q, "");
    fprintf(_f, "%s..rel_q ", prefix);
    dump_q(_f, rel_q, "");
}

bool kf_mesh_quat_t::are_equal(keyframe* _kf)
{
    CHECK_PTR(_kf, false);
    auto* o = dynamic_cast<kf_mesh_quat_t*>(_kf);
    return o && duration == o->duration && are_equal4(rel_q, o->rel_q, 0.0001f);
}

int kf_time_t::bind(unknown*)
{
    return 0;
}

int kf_time_t::start(unknown*, unsigned int)
{
    return 0;
}

int kf_time_t::interpolate_object(unknown*, unsigned int)
{
    return 0;
}

void kf_time_t::dump(FILE* _f, const char* prefix)
{
    CHECK_PTR_V(_f);
    fprintf(_f, "%s-[%d ms\n", prefix ? prefix : "", (int)duration);
}

// ---- channels ----------------------------------------------------------------

channel::channel() : kfa(nullptr), prevtime(UINT32_MAX), prevkf(-1), currkf(-1), nkf(0), cap(0)
{
}

channel::~channel()
{
    for (int k = 0; k < nkf; ++k)
        delete kfa[k];
    delete[] kfa;
}

int channel::add_keyframe(keyframe* kf)
{
    CHECK_PTR(kf, -1);
    if (nkf + 1 >= cap) {
        int grown = cap ? cap * 2 : 8;
        keyframe** a = KD_NEW keyframe*[(size_t)grown];
        if (!a) {
            ELOG(EL_MAJOR, "add_keyframe(): unable to allocate %d keyframes", grown);
            return -1;
        }
        if (nkf)
            memcpy(a, kfa, sizeof(keyframe*) * (size_t)nkf);
        delete[] kfa;
        kfa = a;
        cap = grown;
    }
    kfa[nkf++] = kf;
    kfa[nkf] = nullptr;
    return 0;
}

int channel::_get_keyframe_at_time(unsigned int time, int* index, unsigned int* kf_start)
{
    if (nkf == 0) {
        ELOG(EL_MAJOR, "_set_current_keyframe(): no keyframes found");
        return -1;
    }
    uint64_t at = 0;
    int k = 0;
    for (; k < nkf; ++k) {
        if (at + kfa[k]->duration >= time)
            break;
        at += kfa[k]->duration;
    }
    int rc = 0;
    if (k == nkf) {
        k = nkf - 1;
        rc = -1;
    }
    currkf = k;
    if (index)
        *index = k;
    if (kf_start)
        *kf_start = at > UINT32_MAX ? UINT32_MAX : (unsigned int)at;
    return rc;
}

int channel::_execute_kf_range(int from, int to, unknown* object, unsigned int time)
{
    if (nkf == 0) {
        ELOG(EL_MAJOR, "_execute_kf_range(): channel has no keyframes");
        return -1;
    }
    if (from < 0 || to < from || to >= nkf) {
        ELOG(EL_MINDEBUG, "_execute_kf_range(): invalid parameters");
        return -1;
    }
    for (int k = from; k < to; ++k) {
        if (k != from && kfa[k]->start(object, 0) == -1)
            return -1;
        if (kfa[k]->interpolate_object(object, kfa[k]->duration) == -1)
            return -1;
    }
    if (to != from && kfa[to]->start(object, time) == -1)
        return -1;
    return kfa[to]->interpolate_object(object, time) == -1 ? -1 : 0;
}

int channel::animate(unknown* object, unsigned int time)
{
    if (!object) {
        ELOG(EL_MAJOR, "animate(): _object is invalid");
        return -1;
    }
    int k = 0;
    unsigned int kf_start = 0;
    int located = _get_keyframe_at_time(time, &k, &kf_start);
    if (located == -1 && nkf == 0)
        return -1;
    unsigned int effective = time, inside;
    int overshoot = 0;
    if (located == -1) {
        effective = kf_start;  // the total duration
        uint64_t over = (uint64_t)time - kf_start;
        overshoot = over > INT_MAX ? INT_MAX : (int)over;
        inside = kfa[k]->duration;
    } else {
        inside = time - kf_start;
    }
    if (prevtime > effective || prevkf < 0) {
        unsigned int first = kfa[0]->duration;
        if (kfa[0]->start(object, effective < first ? effective : first) == -1)
            return -1;
        prevkf = 0;
    }
    if (_execute_kf_range(prevkf, currkf, object, inside) == -1)
        return -1;
    prevkf = currkf;
    prevtime = effective;
    return overshoot;
}

unsigned int channel::get_duration()
{
    if (nkf == 0) {
        ELOG(EL_MAJOR, "get_duration(): no keyframes found");
        return 0;
    }
    uint64_t sum = 0;
    for (int k = 0; k < nkf; ++k)
        sum += kfa[k]->duration;
    return sum > UINT32_MAX ? UINT32_MAX : (unsigned int)sum;
}

int channel::bind(unknown* object)
{
    CHECK_PTR(kfa, -1);
    for (int k = 0; k < nkf; ++k)
        if (kfa[k]->bind(object) == -1)
            return -1;
    return 0;
}

// ---- stacks --------------------------------------------------------------------

channel_stack::channel_stack() : channels(1)
{
}

int channel_stack::push(channel* c)
{
    CHECK_PTR(c, -1);
    return channels.insert(static_cast<unknown*>(c));
}

void channel_stack::pop()
{
    if (channels.last)
        channels.remove(channels.last);
}

int channel_stack::animate(unknown* object, unsigned int time)
{
    if (!object) {
        ELOG(EL_MAJOR, "animate(): invalid parameters");
        return -1;
    }
    int best = INT_MAX;
    for (d_node* n = channels.first; n; n = n->next) {
        int r = static_cast<channel*>(n->object)->animate(object, time);
        if (r == -1)
            return -1;
        if (r < best)
            best = r;
    }
    return best;
}

unsigned int channel_stack::get_duration()
{
    unsigned int best = 0;
    for (d_node* n = channels.first; n; n = n->next) {
        unsigned int d = static_cast<channel*>(n->object)->get_duration();
        if (d > best)
            best = d;
    }
    return best;
}

int channel_stack::bind(unknown* _object)
{
    CHECK_PTR(_object, -1);
    for (d_node* n = channels.first; n; n = n->next)
        if (static_cast<channel*>(n->object)->bind(_object) == -1)
            return -1;
    return 0;
}

// ---- printers ------------------------------------------------------------------

void dump_channel_stack(FILE* _f, channel_stack* stack, const char* prefix, int total)
{
    CHECK_PTR_V(_f);
    CHECK_PTR_V(stack);
    if (!prefix)
        prefix = "";
    unsigned int len = stack->get_duration();
    fprintf(_f, "%sstack (nchannels=%d len=%dms):\n", prefix, stack->channels.count, (int)len);
    int number = stack->channels.count;
    char sub[256];
    for (d_node* n = stack->channels.last; n; n = n->prev, --number) {
        channel* c = static_cast<channel*>(n->object);
        snprintf(sub, sizeof sub, "%s+++ %03d(%06dms): ", prefix, number, (int)c->get_duration());
        dump_channel(_f, c, sub, total < 0 ? (int)len : total);
    }
    fprintf(_f, "%s***end stack\n", prefix);
}

void dump_channel(FILE* _f, channel* c, const char* prefix, int total)
{
    CHECK_PTR_V(_f);
    CHECK_PTR_V(c);
    if (!prefix)
        prefix = "";
    int64_t width = 78 - (int64_t)strlen(prefix);
    int64_t whole = total < 0 ? (int64_t)(c->count() ? c->get_duration() : 0) : total;
    fputs(prefix, _f);
    int64_t used = 0;
    for (int k = 0; k < c->count(); ++k) {
        // A share of nothing is drawn as its bare number.
        int64_t w = whole > 0 ? (int64_t)c->kfa[k]->duration * width / whole : 0;
        int field = w - 1 > 0 ? (int)(w - 1 > 200 ? 200 : w - 1) : 0;
        int printed = fprintf(_f, "|%-*d", field, (int)c->kfa[k]->duration);
        used += printed > 0 ? printed : 0;
    }
    fputc('<', _f);
    for (++used; used < width; ++used)
        fputc('*', _f);
    fputs(")\n", _f);
    fprintf(_f, "%sprevtime=%u prevkf=%d currkf=%d\n", prefix, (unsigned)c->prevtime, (int)c->prevkf,
            (int)c->currkf);
    for (int k = 0; k < c->count(); ++k)
        c->kfa[k]->dump(_f, prefix);
}

}  // namespace vantrel
