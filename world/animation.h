/// @file
/// Model animations: one channel stack per mesh of the model the animation is
/// bound to, and child animations for the child models. The animation plays a
/// range [m_unStartTime, m_unEndTime] of its time line; UpdateFrame advances
/// it and reports how far it ran past the end, and the caller decides what
/// happens then (it does not wrap by itself).
///
/// Failures are logged once (argument checks at EL_MINDEBUG, the others at
/// EL_MAJOR) and reported as -1; the animation keeps the state it had reached.
/// @ingroup world
#pragma once
/// @addtogroup world
/// @{

#include <cstdint>
#include <cstdio>

#include "kdbase/group.h"
#include "primitives/model.h"
#include "world/channel.h"

namespace vantrel {

/// An animation bound to a model: it owns its channel stacks and child
/// animations and poses the bound model's meshes, which it does not own.
class VANTREL_API CSAnimation : public groupable_t {
public:
    uint32_t m_unStartTime;        ///< start of the played range, ms
    uint32_t m_unEndTime;          ///< end of the played range, ms
    uint32_t m_unAccumulatedTime;  ///< current time, ms
    CSAnimation** m_ppChildren;    ///< m_nChildren animations of the child models, owned
    channel_stack** m_ppStacks;    ///< null-terminated, one per mesh in mesh order, owned
    model_t* m_pModel;             ///< the bound model, not owned
    /// Entries of m_ppChildren.
    int32_t m_nChildren;
    /// Stacks in m_ppStacks, before its null terminator.
    int32_t m_nStacks;

    CSAnimation();  ///< init()
    ~CSAnimation() override;  ///< cleanup()
    CSAnimation(const CSAnimation&) = delete;
    CSAnimation& operator=(const CSAnimation&) = delete;

    /// Zeroes the eight fields (nothing is released): 0.
    int init() override;
    /// Destroys every stack and child and frees both arrays; then init().
    void cleanup() override;

    /// Appends a stack (then owned): 0, or -1 for null or when the array
    /// cannot grow (s stays the caller's).
    int add_stack(channel_stack* s);
    /// Moves to t modulo the range's length, from the start of the range
    /// (the start itself for an empty range); children follow with the same
    /// offset. Going back in time first plays every keyframe to its end.
    /// 0, or -1 when that play fails.
    int SetTime(unsigned int t);
    /// m_unStartTime = min(t, m_unEndTime); children get the clamped value.
    void SetStartTime(unsigned int t);
    /// m_unEndTime = min(t, GetTotalDuration()); children get the clamped value.
    void SetEndTime(unsigned int t);
    ///@{
    /// The longest stack or child animation.
    unsigned int GetTotalDuration();
    unsigned int GetCurrentDuration();
    ///@}
    /// Stack i animates mesh i of the bound model up to t. 0, or -1 when a
    /// stack fails. Nothing (0) without stacks or a bound model with meshes.
    int _AnimateUpTo(unsigned int t);
    /// Advances the time by dt (stopping at the end) and animates; children
    /// follow. The ms by which the time ran past the end (0 inside), or -1.
    int UpdateFrame(unsigned int dt);
    /// Binds stack i to mesh i and child j to child model j, where the model
    /// has them. 0; null model: logged, -1.
    int bind(model_t* _model);
    /// Releases this animation's own stacks and children, then shares src's
    /// (group fields and the eight fields copied, arrays shared): exactly one
    /// of the two may be destroyed with them; use replace to move them.
    void CopyAnim(CSAnimation& src);
    /// CopyAnim, then src forgets everything (its fields zeroed): this one owns
    /// it all. Null: logged.
    void replace(CSAnimation* _anim);
    /// Times, every stack with its mesh's name and channels, the model's name
    /// and the children (prefix + "**"). Null f: logged.
    void dump(FILE* f, const char* prefix) override;

private:
    int32_t stacks_cap;  ///< allocated entries of m_ppStacks
};

/// Reads the text animation format into anim, appending to its stacks:
///   [stack]        appends a stack and opens it (closing an open one, which stays)
///   [end stack]    closes the open stack
///   [channel]      pushes a channel onto the open stack and opens it
///   kf \<ms\>        appends a timing-only keyframe to the open channel; \<ms\>
///                  must be a decimal 0..4294967295
/// Other lines are ignored; keyword lines may end in CRLF, and the last line
/// needs no line feed. Lines longer than 1023 characters are cut there.
/// Then the range is the whole animation and the time its start: 0.
/// -1 for null arguments, a file that cannot be opened (logged at EL_MINOR), a
/// bad "kf" duration ("LoadAnimation(): bad keyframe duration in line %d") or
/// an allocation failure; the stacks this call added are then removed.
VANTREL_API int LoadAnimation(const char* path, CSAnimation* anim);

}  // namespace vantrel
/// @}
