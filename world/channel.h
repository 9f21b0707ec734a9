/// @file
/// Animation channels: keyframes that move or turn one mesh over their
/// duration, played one after another by a channel; channel stacks run
/// channels side by side on the same mesh. Times are unsigned milliseconds.
/// Keyframes store relative motion: bind() turns it into end values from the
/// pose the mesh has when the animation is bound, and start() captures the
/// pose at the moment a keyframe begins. The objects passed are meshes (mesh_t).
///
/// Failures are logged once (argument checks at EL_MINDEBUG, the others at
/// EL_MAJOR) and reported as -1 (or 0 for durations).
/// @ingroup world
#pragma once
/// @addtogroup world
/// @{

#include <cstdint>
#include <cstdio>

#include "kdbase/d_list.h"
#include "kdbase/group.h"
#include "kdbase/unknown.h"

namespace vantrel {

/// One step of a channel: moves or turns an object over duration ms.
class VANTREL_API keyframe : public unknown {
public:
    uint32_t duration;  ///< ms

    keyframe();

    /// Makes the end value from the object's bind pose. 0 / -1 (null object).
    virtual int bind(unknown* object) = 0;
    /// Captures the object's pose as the start of this keyframe. 0 / -1.
    virtual int start(unknown* object, unsigned int time) = 0;
    /// Sets the object's pose for time ms into this keyframe (time / duration
    /// of the way; a keyframe of duration 0 is at its end). 0 / -1.
    virtual int interpolate_object(unknown* object, unsigned int time) = 0;
    /// Prints nothing here.
    virtual void dump(FILE* f, const char* prefix);
    /// Equal durations; null other: logged, false.
    virtual bool are_equal(keyframe* other);
};

/// Moves the mesh's translation (matrix elements 12-14) by delta_v.
class VANTREL_API kf_mesh_mtrans_t : public keyframe {
public:
    /// Translation when the keyframe started.
    float start_v[4];
    /// Translation at its end: the bind pose's translation plus delta_v.
    float end_v[4];
    /// The move, relative to the bind pose.
    float delta_v[4];

    kf_mesh_mtrans_t();
    int bind(unknown* object) override;
    int start(unknown* object, unsigned int time) override;
    int interpolate_object(unknown* object, unsigned int time) override;
    /// "-[\<duration\> ms" and the three vectors.
    void dump(FILE* f, const char* prefix) override;
    /// A translation keyframe of the same duration and delta_v within 0.0001.
    bool are_equal(keyframe* other) override;
};

/// Turns the mesh by rel_q. The first three rows of the matrix are its axes;
/// each keeps its length (the mesh keeps its scale) and the translation is
/// not touched.
class VANTREL_API kf_mesh_quat_t : public keyframe {
public:
    /// Orientation when the keyframe started.
    float start_q[4];
    /// Orientation at its end: the bind pose's orientation turned by rel_q, normalised.
    float end_q[4];
    /// The turn, relative to the bind pose.
    float rel_q[4];

    kf_mesh_quat_t();  ///< rel_q, start_q, end_q the identity
    int bind(unknown* object) override;
    int start(unknown* object, unsigned int time) override;
    int interpolate_object(unknown* object, unsigned int time) override;
    void dump(FILE* f, const char* prefix) override;
    bool are_equal(keyframe* other) override;
};

/// A keyframe that only takes time (the text animation format's "kf"): its
/// operations do nothing and succeed.
class VANTREL_API kf_time_t : public keyframe {
public:
    int bind(unknown* object) override;
    int start(unknown* object, unsigned int time) override;
    int interpolate_object(unknown* object, unsigned int time) override;
    /// "-[\<duration\> ms".
    void dump(FILE* f, const char* prefix) override;
};

/// Keyframes played one after another on one object. The channel owns its
/// keyframes.
class VANTREL_API channel : public unknown {
public:
    keyframe** kfa;     ///< null-terminated, owned (null without keyframes)
    uint32_t prevtime;  ///< time of the last animate; all bits set when fresh
    int32_t prevkf;     ///< keyframe reached by the last animate; -1 when fresh
    int32_t currkf;     ///< keyframe at the current time; -1 when fresh

    channel();
    ~channel() override;
    channel(const channel&) = delete;
    channel& operator=(const channel&) = delete;

    /// Appends kf, which the channel then owns. 0; -1 for null kf or when the
    /// array cannot grow (kf stays the caller's).
    int add_keyframe(keyframe* kf);
    /// Keyframes in kfa.
    int count() const { return nkf; }
    /// Sets currkf to the keyframe holding time (a time on the boundary of two
    /// belongs to the earlier one) and kf_start to that keyframe's start: 0.
    /// Past the end: the last keyframe and the total duration, -1. Without
    /// keyframes: logged, -1.
    int _get_keyframe_at_time(unsigned int time, int* index, unsigned int* kf_start);
    /// Completes keyframes from..to-1, then starts (when new) and interpolates
    /// keyframe to at time. 0 / -1.
    int _execute_kf_range(int from, int to, unknown* object, unsigned int time);
    /// Plays the channel up to time: the ms by which time lies past the end
    /// (0 inside), or -1. Time going backwards (and the first call) restarts
    /// from keyframe 0, from the object's current pose.
    int animate(unknown* object, unsigned int time);
    /// Sum of the durations (saturating at 4294967295); 0 and logged without keyframes.
    unsigned int get_duration();
    /// bind on every keyframe in order: 0, or -1 (no keyframes: logged).
    int bind(unknown* object);

private:
    int nkf;
    int cap;
};

/// Channels played side by side on one mesh; the stack owns its channels.
class VANTREL_API channel_stack : public groupable_t {
public:
    d_list channels;  ///< of channel, owned

    channel_stack();

    /// Appends c (then owned): 0, or -1 for null c or an allocation failure
    /// (c stays the caller's).
    int push(channel* c);
    /// Destroys the last channel (nothing when empty).
    void pop();
    /// Every channel animates to time: the smallest overshoot, 2147483647 for
    /// an empty stack, -1 as soon as one fails (null object: logged).
    int animate(unknown* object, unsigned int time);
    /// The longest channel's duration (0 for none).
    unsigned int get_duration();
    /// bind on every channel: 0, or -1 (null object: logged).
    int bind(unknown* object);
};

/// "stack (nchannels=.. len=..ms):", the channels from last to first, and
/// "***end stack". total is the length the time lines are drawn against (-1:
/// the stack's own duration).
VANTREL_API void dump_channel_stack(FILE* f, channel_stack* stack, const char* prefix, int total);
/// A time line of the keyframes (each "|\<duration\>" as wide as its share of
/// total, -1: the channel's duration; a total of 0 draws no shares), the
/// playback state and every keyframe.
VANTREL_API void dump_channel(FILE* f, channel* c, const char* prefix, int total);

}  // namespace vantrel
/// @}
