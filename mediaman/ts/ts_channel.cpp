// trueSpace animation channels ("Chan") and joints ("Join"): their records
// and dumps.
#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "kdbase/pointer.h"
#include "mediaman/ts/ts_file.h"
#include "mediaman/ts/ts_local.h"

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

int CTrueSpaceFile::read_CSAnimation(unsigned int, CSAnimation*)
{
    ELOG(EL_MINDEBUG, "read_CSAnimation(): animations are not converted yet");
    return -1;
}

int CTrueSpaceFile::read_CSAnimation_l(const char*, d_list*)
{
    ELOG(EL_MINDEBUG, "read_CSAnimation_l(): animations are not converted yet");
    return -1;
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
