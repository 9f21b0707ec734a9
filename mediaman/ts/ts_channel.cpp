// trueSpace animation channels ("Chan") and joints ("Join"): their records,
// the conversion of the channels below a group into an animation, and dumps.
#include <cmath>
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/kdbase_math.h"
#include "kdbase/mem_collector.h"
#include "kdbase/pointer.h"
#include "kdbase/regex.h"
#include "mediaman/ts/ts_file.h"
#include "mediaman/ts/ts_local.h"
#include "world/animation.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

// Bytes of the channel parameters and of each keyframe's value by channel
// type; other types have neither.
static const struct {
    const char* type;
    int param_bytes;
    int value_bytes;
} __keyframe_map[] = {{"Rotate", 0, 16}, {"Move", 0, 12}, {"Scale", 0, 48}};

static int value_bytes(const char* type, int* param_bytes)
{
    for (const auto& e : __keyframe_map) {
        if (strcmp(e.type, type) == 0) {
            *param_bytes = e.param_bytes;
            return e.value_bytes;
        }
    }
    *param_bytes = 0;
    return 0;
}

int CTrueSpaceFile::ReadChannel_00_08(long chunk, ts_cursor& c)
{
    pointer_t<TS_CHANNEL> ch;
    ch.p = KD_NEW TS_CHANNEL();
    if (!ch)
        return -1;
    ch->chunk = chunk;
    if (ts_read_string(c, ch->name) < 0 || ts_read_string(c, ch->type) < 0)
        return -1;
    int param_bytes;
    int vbytes = value_bytes(ch->type.str(), &param_bytes);
    c.skip(param_bytes);
    ch->flags = c.u16();
    uint16_t n = c.u16();
    bool spline = ch->flags & 1;
    long each = 8 + (spline ? 12 : 0) + vbytes;
    if (!c.ok)
        return -1;
    if (n > c.left() / each) {
        c.need(each * n);
        return -1;
    }
    ch->keyframes = KD_NEW TS_KEYFRAME[n]();
    if (!ch->keyframes)
        return -1;
    ch->nkeyframes = n;
    for (int k = 0; k < n; ++k) {
        TS_KEYFRAME& kf = ch->keyframes[k];
        kf.frame = c.f32();
        kf.acceleration = c.f32();
        if (spline) {
            kf.tension = c.f32();
            kf.continuity = c.f32();
            kf.bias = c.f32();
        }
        c.floats(kf.value, vbytes / 4);
    }
    if (!c.ok)
        return -1;
    int r = keep(channels, ch.p);
    ch.dont_delete();
    return r;
}

int CTrueSpaceFile::ReadJoint_00_05(long chunk, ts_cursor& c)
{
    pointer_t<TS_JOINT> j;
    j.p = KD_NEW TS_JOINT();
    if (!j)
        return -1;
    j->chunk = chunk;
    if (ts_read_name(c, j->name) < 0)
        return -1;
    ts_read_laxes(c, j->axes);
    ts_read_position(c, j->position);
    for (float* v : {j->connector1, j->connector2, j->xdir, j->ydir, j->dir1, j->dir2, j->up})
        c.floats(v, 3);
    j->dof = c.u16();
    for (int k = 0; k < TS_JOINT_NLIMITS; ++k) {
        if (!(j->dof & ts_joint_dof_bits[k]))
            continue;
        j->limits[k].flags = c.u16();
        j->limits[k].stiffness = c.f32();
        j->limits[k].min = c.f32();
        j->limits[k].max = c.f32();
    }
    if (!c.ok || ts_read_string(c, j->linked1) < 0 || ts_read_string(c, j->linked2) < 0)
        return -1;
    int r = keep(joints, j.p);
    j.dont_delete();
    return r;
}

// ---- animations ------------------------------------------------------------------

// trueSpace frames run at 30 per second: the float nearest 1000/30 ms each.
static const float ms_per_frame = 33.333332f;

// Milliseconds from frame a to frame b; frames going back or not numbers last 0.
static uint32_t frame_span(float a, float b)
{
    float ms = roundf((b - a) * ms_per_frame);
    if (!(ms > 0))
        return 0;
    return ms >= 4294967295.0f ? 4294967295u : (uint32_t)ms;
}

// One keyframe per trueSpace keyframe of a "Move" or "Rotate" channel; other
// types give none. Move needs the bone, Rotate the group and the bone.
static int create_chan_keyframes(const TS_CHANNEL& tc, channel* _chan, const TS_GROUP* _group, const TS_BONE* _bone)
{
    bool move = strcmp(tc.type.str(), "Move") == 0, rotate = strcmp(tc.type.str(), "Rotate") == 0;
    if (!move && !rotate)
        return 0;
    if (rotate)
        CHECK_PTR(_group, -1);
    CHECK_PTR(_bone, -1);
    float prev = 0;
    for (int k = 0; k < tc.nkeyframes; ++k) {
        const TS_KEYFRAME& src = tc.keyframes[k];
        keyframe* kf;
        if (move) {
            kf_mesh_mtrans_t* t = KD_NEW kf_mesh_mtrans_t;
            if (t)
                convert_ts_v_to_mrv_v(src.value, t->delta_v);
            kf = t;
        } else {
            kf_mesh_quat_t* q = KD_NEW kf_mesh_quat_t;
            if (q)
                set_v(q->rel_q, src.value[1], src.value[2], src.value[3], src.value[0]);
            kf = q;
        }
        if (!kf)
            return -1;
        kf->duration = frame_span(prev, src.frame);
        prev = src.frame;
        if (_chan->add_keyframe(kf) < 0) {
            delete kf;
            ELOG(EL_MINDEBUG, "unable to insert keyframe into list");
            return -1;
        }
    }
    return 0;
}

// The channels under one object chunk as one stack, named by its first
// channel, appended to stacks; an object without channels adds none.
int CTrueSpaceFile::_load_child_channels(long chunk, const TS_GROUP* group, const TS_BONE* bone, d_list& stacks)
{
    pointer_t<channel_stack> stack;
    const ts_array<long>& children = chunks[chunk]->children;
    for (long k = 0; k < children.count; ++k) {
        const TS_FILE_CHUNK* c = chunks[children[k]];
        if (c->kind != TS_KIND_CHANNEL)
            continue;
        const TS_CHANNEL* tc = channels[c->data_index];
        if (!stack) {
            stack.p = KD_NEW channel_stack;
            if (!stack)
                return -1;
            stack->set_name(tc->name.str());
        }
        pointer_t<channel> ch;
        ch.p = KD_NEW channel;
        if (!ch || create_chan_keyframes(*tc, ch, group, bone) < 0 || stack->push(ch) < 0)
            return -1;
        ch.dont_delete();
    }
    if (stack && stacks.insert(stack.p) < 0) {
        ELOG(EL_MINDEBUG, "unable to insert channel_stack to list");
        return -1;
    }
    stack.dont_delete();
    return 0;
}

// Builds anim from the group's chunk: a child animation per sub-group, a
// stack per animated bone or polygon object. The lists own what is made here
// until anim takes it.
int CTrueSpaceFile::_load_channel_stacks(const TS_GROUP* group, CSAnimation* anim)
{
    d_list children(1), stacks(1);
    const ts_array<long>& kids = chunks[group->chunk]->children;
    for (long k = 0; k < kids.count; ++k) {
        const TS_FILE_CHUNK* c = chunks[kids[k]];
        int r = 0;
        if (c->kind == TS_KIND_GROUP) {
            CSAnimation* child = KD_NEW CSAnimation;
            if (!child || children.insert(child) < 0) {
                delete child;
                return -1;
            }
            r = read_CSAnimation((unsigned int)c->data_index, child);
        } else if (c->kind == TS_KIND_BONE) {
            r = _load_child_channels(kids[k], group, bones[c->data_index], stacks);
        } else if (c->kind == TS_KIND_POLYGONAL) {
            r = _load_child_channels(kids[k], group, nullptr, stacks);
        }
        if (r < 0)
            return -1;
    }
    CSAnimation** child_array = KD_NEW CSAnimation*[(size_t)children.count + 1];
    if (!child_array)
        return -1;
    int n = 0;
    for (d_node* d = children.first; d; d = d->next)
        child_array[n++] = static_cast<CSAnimation*>(d->object);
    child_array[n] = nullptr;
    anim->m_ppChildren = child_array;
    anim->m_nChildren = n;
    children.delete_elements = 0;
    while (stacks.first) {
        channel_stack* s = static_cast<channel_stack*>(stacks.first->object);
        if (anim->add_stack(s) < 0)
            return -1;
        stacks.delete_elements = 0;
        stacks.remove(s);
        stacks.delete_elements = 1;
    }
    return 0;
}

int CTrueSpaceFile::read_CSAnimation(unsigned int index, CSAnimation* _anim)
{
    CHECK_PTR(_anim, -1);
    if (!valid || index >= (unsigned long)groups.count) {
        ELOG(EL_MINDEBUG, "index greater the total number of models");
        return -1;
    }
    const TS_GROUP* g = groups[index];
    _anim->cleanup();
    if (_load_channel_stacks(g, _anim) < 0) {
        _anim->cleanup();
        return -1;
    }
    _anim->set_name(g->name.string.str());
    _anim->m_unStartTime = 0;
    _anim->m_unEndTime = _anim->GetTotalDuration();
    _anim->m_unAccumulatedTime = 0;
    return 0;
}

int CTrueSpaceFile::read_CSAnimation_l(const char* _regex, d_list* _anims)
{
    CHECK_PTR(_regex, -1);
    CHECK_PTR(_anims, -1);
    d_list made(1);
    for (long i = 0; valid && i < groups.count; ++i) {
        if (!regex_match(_regex, groups[i]->name.string.str(), 0))
            continue;
        CSAnimation* a = KD_NEW CSAnimation;
        if (!a || made.insert(a) < 0) {
            delete a;
            ELOG(EL_MINDEBUG, "unable to add animation to list");
            return -1;
        }
        if (read_CSAnimation((unsigned int)i, a) < 0)
            return -1;
    }
    if (!valid)
        return -1;
    for (d_node* d = made.first; d; d = d->next) {
        if (_anims->insert(d->object) < 0) {
            for (d_node* back = made.first; back != d; back = back->next)
                ts_unlink(_anims, back->object);
            ELOG(EL_MINDEBUG, "unable to add animations to list");
            return -1;
        }
    }
    made.delete_elements = 0;
    return 0;
}

// ---- dumps -----------------------------------------------------------------------

void ts_print_channel(FILE* out, const char* pre, const TS_CHANNEL& ch)
{
    fprintf(out, "%sname: %s type: %s\n", pre, ch.name.str(), ch.type.str());
    fprintf(out, "%s++keyframes: flags=%x nframes=%d\n", pre, ch.flags, ch.nkeyframes);
    for (int k = 0; k < ch.nkeyframes; ++k) {
        const TS_KEYFRAME& kf = ch.keyframes[k];
        const float* v = kf.value;
        fprintf(out, "%sframe: %f, accel=%f\n", pre, kf.frame, kf.acceleration);
        if (ch.flags & 1)
            fprintf(out, "%s..s_tension=%f s_continuity=%f s_bias=%f\n", pre, kf.tension, kf.continuity, kf.bias);
        if (strcmp(ch.type.str(), "Rotate") == 0)
            fprintf(out, "%s..quaternion=(%f, %f, %f, %f)\n", pre, v[0], v[1], v[2], v[3]);
        else if (strcmp(ch.type.str(), "Move") == 0)
            fprintf(out, "%s..relative pos=(%f, %f, %f)\n", pre, v[0], v[1], v[2]);
        else if (strcmp(ch.type.str(), "Scale") == 0)
            fprintf(out, "%s..relative size=(%f, %f, %f)\n", pre, v[0], v[1], v[2]);
        else
            fprintf(out, "%s..unkown keyframe type\n", pre);
    }
}

void ts_print_joint(FILE* out, const char* pre, const TS_JOINT& j)
{
    fprintf(out, "%sString: %s\n%sDupeCount: %d\n", pre, j.name.string.str(), pre, j.name.dupecount);
    static const char* const names[] = {"connector 1", "connector 2", "x direction", "y direction",
                                        "connector 1 direction", "connector 2 direction", "up"};
    const float* vs[] = {j.connector1, j.connector2, j.xdir, j.ydir, j.dir1, j.dir2, j.up};
    for (int k = 0; k < 7; ++k)
        fprintf(out, "%s%s: (%f, %f, %f)\n", pre, names[k], vs[k][0], vs[k][1], vs[k][2]);
    fprintf(out, "%sDOF set: 0x%04x\n", pre, j.dof);
    for (int k = 0; k < TS_JOINT_NLIMITS; ++k) {
        if (!(j.dof & ts_joint_dof_bits[k]))
            continue;
        fprintf(out, "%sflags: 0x%04x\n", pre, j.limits[k].flags);
        fprintf(out, "%sstiffness: %f\n", pre, j.limits[k].stiffness);
        fprintf(out, "%smin: %f\n", pre, j.limits[k].min);
        fprintf(out, "%smax: %f\n", pre, j.limits[k].max);
    }
    fprintf(out, "%slinked object 1: %s\n", pre, j.linked1.str());
    fprintf(out, "%slinked object 2: %s\n", pre, j.linked2.str());
}

}  // namespace vantrel
