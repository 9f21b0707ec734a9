// Entities and their animated states.
#include "world/entity.h"

#include <cinttypes>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

// ---- entities ---------------------------------------------------------------------

entity_t::entity_t() : state_machine(nullptr), level(nullptr), flags(0)
{
    pos_v = &model.matrix[12];
}

entity_t::~entity_t() = default;

void entity_t::on_state_activation(generic_state*) {}

void entity_t::before_move(float* delta)
{
    if (level)
        level->do_collision_check(this, delta);
}

void entity_t::after_move() {}

namespace {

// A datagram of the given type with the entity's id; payload added by the caller.
void start_dgram(user_datagram& d, int id, uint16_t user)
{
    d.set("id", (unsigned)id);
    d.set("user_id", user);
}

}  // namespace

int entity_t::send_pos()
{
    if (!pos_v || !(flags & ENTITY_NETWORKED))
        return 0;
    user_datagram d;
    start_dgram(d, GD_POSITION, user_id);
    if (d.add("x", pos_v[0]) < 0 || d.add("y", pos_v[1]) < 0 || d.add("z", pos_v[2]) < 0)
        return -1;
    return mcast_data(&d) < 0 ? -1 : 0;
}

int entity_t::send_state(int state)
{
    if (!(flags & ENTITY_NETWORKED))
        return 0;
    if (state == 0) {
        ELOG(EL_MINDEBUG, "entity::send_state(): entity %d tried to send a NIL_STATE", user_id);
        return -1;
    }
    user_datagram d;
    start_dgram(d, GD_STATE, user_id);
    if (d.add("state", state) < 0)
        return -1;
    return mcast_data(&d) < 0 ? -1 : 0;
}

void entity_t::process_datagram(char* buf, sockaddr_in*)
{
    if (!buf) {
        ELOG(EL_MINDEBUG, "invalid pointer: %s=%" PRIxPTR, "_dgrambuf", (uintptr_t)0);
        return;
    }
    dgram_header h;
    get_dgram_header(buf, DGRAM_HEADER_SIZE, &h);
    user_datagram d;
    if (h.id == GD_POSITION) {
        if (d.add("x", 0.0f) < 0 || d.add("y", 0.0f) < 0 || d.add("z", 0.0f) < 0)
            return;
        // The payload is checked against the datagram's own size before it is read.
        if (h.data_size != d.size() - DGRAM_HEADER_SIZE) {
            ELOG(EL_MINOR, "entity %d received an invalid GD_POSITION datagram", user_id);
            return;
        }
        d.unpack(buf, DGRAM_HEADER_SIZE + h.data_size);
        float target[4] = {d["x"]->f_value(), d["y"]->f_value(), d["z"]->f_value(), 1.0f};
        set_target_pos(target, 0.0001f);
    } else if (h.id == GD_STATE) {
        if (d.add("state", 0) < 0)
            return;
        if (h.data_size != d.size() - DGRAM_HEADER_SIZE) {
            ELOG(EL_MINOR, "entity %d received an invalid GD_STATE datagram", user_id);
            return;
        }
        d.unpack(buf, DGRAM_HEADER_SIZE + h.data_size);
        int state = d["state"]->i_value();
        if (request_state_transition(state) < 0)
            ELOG(EL_MINOR, "entity %d received an unallowed state (current=%x requested=%x)", user_id,
                 current ? (unsigned)current->id : 0u, (unsigned)state);
    }
}

void entity_t::adjust_radius()
{
    float lo[4], hi[4];
    if (model.get_bbox(lo, hi) < 0)
        return;
    for (int i = 0; i < 3; ++i)
        radius_v[i] = (hi[i] - lo[i]) * 0.5f;
    radius_v[3] = 1.0f;
}

entity_t* level_t::get_ent(unsigned short id)
{
    for (d_node* n = ents.first; n; n = n->next) {
        entity_t* e = n->object ? dynamic_cast<entity_t*>(n->object) : nullptr;
        if (e && e->user_id == id)
            return e;
    }
    return nullptr;
}

void entity_t::dump(FILE* f, const char* prefix)
{
    CHECK_PTR_V(f);
    if (!prefix)
        prefix = "";
    igl_user::dump(f, prefix);
    physical_body::dump(f, prefix);
    state_machine::dump(f, prefix);
    fprintf(f, "%sflags=%08x\n", prefix, flags);
}

// ---- entity states ----------------------------------------------------------------

entity_state_t::entity_state_t() : anim_reloop_time(0), entity(nullptr)
{
    cycle_timer.start(0);
}

int entity_state_t::action()
{
    if (!entity || is_sub_state_id(id))
        return -1;
    entity->interpolate();
    // The timer's period is 0: has_elapsed() is minus the ms since the last pass.
    int dt = -cycle_timer.has_elapsed();
    int over = UpdateFrame((unsigned int)(dt > 0 ? dt : 0));
    int r = on_action();
    if (r != -1 && over < 1)
        return r;
    SetStartTime(anim_reloop_time);
    SetTime((unsigned int)(over > 0 ? over : 0));
    return -1;
}

void entity_state_t::start_state()
{
    cycle_timer.start(0);
    SetStartTime(0);
    SetTime(0);
    if (entity)
        entity->send_state(id);
    on_start_state();
}

void entity_state_t::end_state()
{
    on_end_state();
}

void entity_state_t::on_start_state() {}

void entity_state_t::on_end_state() {}

int entity_state_t::on_action()
{
    return 0;
}

void entity_state_t::dump(FILE* f, const char* prefix)
{
    CHECK_PTR_V(f);
    if (!prefix)
        prefix = "";
    generic_state::dump(f, prefix);
    CSAnimation::dump(f, prefix);
    fprintf(f, "%sanim_reloop_time=%d cycle_delta=%u\n", prefix, (int)anim_reloop_time,
            (unsigned)cycle_timer.cycle_time());
}

}  // namespace vantrel
