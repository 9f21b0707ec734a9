/// @file
/// The CDS chunk types of animations: "CSTK" (a channel_stack of keyframe
/// channels) and "ANIM" (a CSAnimation made of embedded "CSTK" chunks). The
/// container makes one reader of each in init().
///
/// Payloads (32-bit little-endian integers and floats):
///   CSTK: channel count, then per channel its keyframe kind (1 translation,
///         2 rotation), keyframe count and keyframes (duration in ms, then
///         delta_v x, y, z for kind 1 or rel_q for kind 2).
///   ANIM: a reserved NUL-ended string (written empty), the stack count, then
///         each stack as a complete CSTK chunk in m_ppStacks order. Child
///         animations are not stored.
///
/// Readers read nothing beyond their payload (every count is checked against
/// the bytes left before it sizes anything) and either append one complete
/// object to their objects list (0) or delete everything they built (-1,
/// logged once at EL_MINDEBUG). A short read throws the int -1 out of the
/// reader with its object already deleted. Writers check the whole object
/// first and write nothing for one they cannot store.
/// @ingroup mediaman
#pragma once
/// @addtogroup mediaman
/// @{

#include "mediaman/cds/chunk_io.h"

namespace vantrel {

/// Keyframe kinds as stored.
enum { CSTK_KF_MTRANS = 1, CSTK_KF_QUAT = 2 };

/// "CSTK": a channel_stack named by the chunk id; not attached to a group.
class VANTREL_API chunk_cstk : public chunk_io {
public:
    chunk_cstk();
    /// -1 for counts that do not fit the payload or a keyframe kind other than
    /// 1 and 2 in a channel with keyframes ("unknown keyframe type: %d"). A
    /// channel of any kind with no keyframes reads as a channel without them.
    int read(cds& c, chunk_header& h) override;
    /// o must be a channel_stack (else the invalid-pointer message naming cs).
    /// Every channel needs keyframes ("channel has no keyframes"), all of one
    /// stored kind ("unsupported keyframe type" for others such as the text
    /// format's timing-only keyframes, "channel has keyframes of different type").
    int write(cds& c, groupable_t* o) override;
};

/// "ANIM": a CSAnimation named by the chunk id owning its stacks, its range
/// the whole animation and its time 0; not attached to a group.
class VANTREL_API chunk_anim : public chunk_io {
public:
    chunk_anim();
    /// -1 for a reserved string without its end, a stack count that does not
    /// fit, an embedded chunk other than "CSTK" ("found an invalid ANIM
    /// sub-chunk") or a failing stack.
    int read(cds& c, chunk_header& h) override;
    /// o must be a CSAnimation (else the invalid-pointer message naming anim)
    /// whose stacks can all be written.
    int write(cds& c, groupable_t* o) override;
};

// Creators for the container's type table: a new reader (the caller owns
// it), or null when it cannot be allocated.
/// A new "CSTK" reader, or null.
VANTREL_API chunk_io* create_cstk();
/// A new "ANIM" reader, or null.
VANTREL_API chunk_io* create_anim();

}  // namespace vantrel
/// @}
