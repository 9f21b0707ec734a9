#include "mediaman/cds/anim_chunks.h"

#include <cinttypes>
#include <cstring>

#include "kdbase/pointer.h"
#include "mediaman/cds/chunk_local.h"
#include "world/animation.h"
#include "world/channel.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

using namespace chunk_local;

namespace {

const char cstk_type[] = "CSTK";
const char anim_type[] = "ANIM";

// Longest reserved string of an ANIM payload, its NUL included.
const int reserved_max = 255;
// Bytes of a channel's head (kind, count) and of a keyframe of each kind.
const int64_t channel_head_bytes = 8;
const int64_t mtrans_bytes = 4 + 12;
const int64_t quat_bytes = 4 + 16;

// The stored kind of a keyframe, 0 for a class that cannot be stored.
int kind_of(keyframe* kf)
{
    if (dynamic_cast<kf_mesh_mtrans_t*>(kf))
        return CSTK_KF_MTRANS;
    if (dynamic_cast<kf_mesh_quat_t*>(kf))
        return CSTK_KF_QUAT;
    return 0;
}

// The kind of every keyframe of the channel, or 0 after logging why it
// cannot be stored.
int storable_channel(channel* ch)
{
    if (!ch || !ch->kfa || !ch->kfa[0]) {
        ELOG(EL_MINDEBUG, "channel has no keyframes");
        return 0;
    }
    int kind = kind_of(ch->kfa[0]);
    for (int k = 0; ch->kfa[k]; ++k) {
        int other = kind_of(ch->kfa[k]);
        if (!other) {
            ELOG(EL_MINDEBUG, "unsupported keyframe type");
            return 0;
        }
        if (other != kind) {
            ELOG(EL_MINDEBUG, "channel has keyframes of different type");
            return 0;
        }
    }
    return kind;
}

bool storable_stack(channel_stack* cs)
{
    for (d_node* n = cs->channels.first; n; n = n->next)
        if (!storable_channel(static_cast<channel*>(n->object)))
            return false;
    return true;
}

// One channel record of a payload ending at end into a new channel, or null.
channel* read_channel(cds& c, long end, const char* id)
{
    if (!fits(c, end, channel_head_bytes, id, "channel header"))
        return nullptr;
    int32_t kind = c.ReadInt();
    int32_t count = c.ReadInt();
    if (count < 0) {
        ELOG(EL_MINDEBUG, "%s: invalid keyframe count %d", id, count);
        return nullptr;
    }
    if (count > 0 && kind != CSTK_KF_MTRANS && kind != CSTK_KF_QUAT) {
        ELOG(EL_MINDEBUG, "unknown keyframe type: %d", kind);
        return nullptr;
    }
    if (!fits(c, end, count * (kind == CSTK_KF_MTRANS ? mtrans_bytes : quat_bytes), id, "keyframes"))
        return nullptr;
    pointer_t<channel> ch;
    ch.p = KD_NEW channel;
    if (!ch)
        return nullptr;
    for (int k = 0; k < count; ++k) {
        pointer_t<keyframe> kf;
        uint32_t duration = (uint32_t)c.ReadInt();
        if (kind == CSTK_KF_MTRANS) {
            kf_mesh_mtrans_t* t = KD_NEW kf_mesh_mtrans_t;
            kf.p = t;
            if (!t)
                return nullptr;
            c.ReadVector3(t->delta_v);
        } else {
            kf_mesh_quat_t* q = KD_NEW kf_mesh_quat_t;
            kf.p = q;
            if (!q)
                return nullptr;
            c.ReadVector4(q->rel_q);
        }
        kf->duration = duration;
        if (ch->add_keyframe(kf) < 0)
            return nullptr;
        kf.dont_delete();
    }
    ch.dont_delete();
    return ch.p;
}

}  // namespace

// ---- CSTK --------------------------------------------------------------------

chunk_cstk::chunk_cstk() : chunk_io(cstk_type) {}

int chunk_cstk::read(cds& c, chunk_header& h)
{
    long end = c.GetPos() + h.size;
    pointer_t<channel_stack> cs;
    cs.p = KD_NEW channel_stack;
    if (!cs || name_from(cs, h.id) < 0) {
        ELOG(EL_MINDEBUG, "%s: unable to allocate object", h.id);
        return -1;
    }
    if (!fits(c, end, 4, h.id, "channel count"))
        return -1;
    int32_t n = c.ReadInt();
    if (n < 0) {
        ELOG(EL_MINDEBUG, "%s: invalid channel count %d", h.id, n);
        return -1;
    }
    if (!fits(c, end, n * channel_head_bytes, h.id, "channel array"))
        return -1;
    for (int i = 0; i < n; ++i) {
        channel* ch = read_channel(c, end, h.id);
        if (!ch)
            return -1;
        if (cs->push(ch) < 0) {
            delete ch;
            ELOG(EL_MINDEBUG, "unable to add channel %d to channel stack", i);
            return -1;
        }
    }
    if (objects.insert(cs) < 0) {
        ELOG(EL_MINDEBUG, "unable to add channel_stack %s to ::objects list", h.id);
        return -1;
    }
    cs.dont_delete();
    return 0;
}

int chunk_cstk::write(cds& c, groupable_t* o)
{
    channel_stack* cs = dynamic_cast<channel_stack*>(o);
    CHECK_PTR(cs, -1);
    if (!storable_stack(cs))
        return -1;
    long size_pos = c.write_header(cstk_type, 0, cs->name);
    long start = c.GetPos();
    c.WriteInt(cs->channels.count);
    for (d_node* n = cs->channels.first; n; n = n->next) {
        channel* ch = static_cast<channel*>(n->object);
        int kind = kind_of(ch->kfa[0]);
        c.WriteInt(kind);
        c.WriteInt(ch->count());
        for (int k = 0; ch->kfa[k]; ++k) {
            c.WriteInt((int32_t)ch->kfa[k]->duration);
            if (kind == CSTK_KF_MTRANS)
                c.WriteVector3(static_cast<kf_mesh_mtrans_t*>(ch->kfa[k])->delta_v);
            else
                c.WriteVector4(static_cast<kf_mesh_quat_t*>(ch->kfa[k])->rel_q);
        }
    }
    return c.write_size_at_pos(size_pos, start);
}

// ---- ANIM --------------------------------------------------------------------

chunk_anim::chunk_anim() : chunk_io(anim_type) {}

int chunk_anim::read(cds& c, chunk_header& h)
{
    long end = c.GetPos() + h.size;
    pointer_t<CSAnimation> anim;
    anim.p = KD_NEW CSAnimation;
    if (!anim || name_from(anim, h.id) < 0) {
        ELOG(EL_MINDEBUG, "%s: unable to allocate object", h.id);
        return -1;
    }
    char reserved[reserved_max + 1];
    int max = (int)std::min<long>(end - c.GetPos(), reserved_max);
    int got = max > 0 ? c.ReadString(reserved, max) : 0;
    if (got < 1 || reserved[got - 1] != 0) {
        ELOG(EL_MINDEBUG, "%s: reserved string without its end", h.id);
        return -1;
    }
    if (!fits(c, end, 4, h.id, "stack count"))
        return -1;
    int32_t n = c.ReadInt();
    if (n < 0) {
        ELOG(EL_MINDEBUG, "%s: invalid stack count %d", h.id, n);
        return -1;
    }
    if (!fits(c, end, n * min_chunk_bytes, h.id, "stack array"))
        return -1;
    // The stacks pass through a reader of their own, which does not own them.
    chunk_cstk stacks;
    for (int i = 0; i < n; ++i) {
        chunk_header sh;
        if (read_embedded_header(c, sh, end, h.id) < 0)
            return -1;
        if (memcmp(sh.type, cstk_type, 4) != 0) {
            ELOG(EL_MINDEBUG, "found an invalid ANIM sub-chunk");
            return -1;
        }
        channel_stack* cs = static_cast<channel_stack*>(read_embedded(c, stacks, sh));
        if (!cs)
            return -1;
        if (anim->add_stack(cs) < 0) {
            delete cs;
            ELOG(EL_MINDEBUG, "%s: unable to add stack %d", h.id, i);
            return -1;
        }
    }
    if (objects.insert(anim) < 0) {
        ELOG(EL_MINDEBUG, "unable to add animation %s to ::objects list", h.id);
        return -1;
    }
    anim->m_unStartTime = 0;
    anim->m_unEndTime = anim->GetTotalDuration();
    anim->m_unAccumulatedTime = 0;
    anim.dont_delete();
    return 0;
}

int chunk_anim::write(cds& c, groupable_t* o)
{
    CSAnimation* anim = dynamic_cast<CSAnimation*>(o);
    CHECK_PTR(anim, -1);
    int32_t n = 0;
    for (; anim->m_ppStacks && anim->m_ppStacks[n]; ++n)
        if (!storable_stack(anim->m_ppStacks[n]))
            return -1;
    long size_pos = c.write_header(anim_type, 0, anim->name);
    long start = c.GetPos();
    c.WriteChar(0);
    c.WriteInt(n);
    chunk_cstk stacks;
    for (int i = 0; i < n; ++i)
        if (stacks.write(c, anim->m_ppStacks[i]) < 0)
            return -1;
    return c.write_size_at_pos(size_pos, start);
}

// ---- creators ----------------------------------------------------------------

chunk_io* create_cstk()
{
    return KD_NEW chunk_cstk;
}

chunk_io* create_anim()
{
    return KD_NEW chunk_anim;
}

}  // namespace vantrel
