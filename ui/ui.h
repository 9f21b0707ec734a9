/// @file
/// Input and UI: inputs (keys) with press, hold and release callbacks, the
/// devices that read them, elements that listen to inputs, output views that
/// show elements, and the cycle-engine module that polls the devices and hands
/// the inputs to the elements once per pass. The keyboard is the only device.
/// @ingroup ui
#pragma once
/// @addtogroup ui
/// @{

#include "engine/cycle_engine.h"
#include "kdbase/s_token.h"

namespace vantrel {

class input_t;
class input_user_t;

/// Called with the element's input part and the input.
typedef void (*input_func)(input_user_t* user, input_t* in);

/// Bits of input_t::flags.
enum { INPUT_HELD = 1, INPUT_PRESSED = 2, INPUT_RELEASED = 4 };

/// One input an element listens to. The flags carry the key's state from one
/// pass to the next; any callback may be null.
class VANTREL_API input_t : public unknown {
public:
    int code;   ///< for keyboard inputs the low byte is the virtual-key code
    int flags;  ///< INPUT_* bits
    /// Called on every pass the device finds the key down.
    input_func on_press;
    /// Called on every pass after the first while the key stays down, before on_press.
    input_func while_held;
    /// Called once, on the first pass after the key came up.
    input_func on_release;

    /// An input with that code, no flags and no callbacks.
    explicit input_t(int _code = 0);
};

/// A keyboard input: the keyboard device recognises its inputs by this type.
class VANTREL_API in_keyb_t : public input_t {
public:
    /// A keyboard input for the key code (low byte: the virtual-key code).
    explicit in_keyb_t(int _code = 0) : input_t(_code) {}
};

/// A device the UI module offers inputs to.
class VANTREL_API input_device_t {
public:
    virtual ~input_device_t();
    /// 0 when the device handled the input; anything else when it is not of
    /// the device's kind.
    virtual int query(input_t* in) = 0;
};

/// The keyboard, read through k_get_key_state.
class VANTREL_API dev_keyb_t : public input_device_t {
public:
    /// A key that is down sets INPUT_PRESSED; a held key that is up loses
    /// INPUT_HELD and gains INPUT_RELEASED. 0; -1 for null (logged) or an input
    /// that is not an in_keyb_t.
    int query(input_t* in) override;
};

/// The input part of an element.
class VANTREL_API input_user_t {
public:
    input_t** inputs = nullptr;  ///< null-terminated, not owned; may be null
};

/// Bits of element_t::flags.
enum { ELEMENT_ACTIVE = 1 };

/// Something on screen that listens to inputs and is switched on and off.
class VANTREL_API element_t : public input_user_t {
public:
    int flags = 0;  ///< ELEMENT_* bits

    /// Called by activate_element after the active bit is set.
    virtual void activated() = 0;
    virtual void active() = 0;  ///< once per pass while the element is active
    /// Called by deactivate_element after the active bit is cleared.
    virtual void deactivated() = 0;
    virtual ~element_t();

    /// True when ELEMENT_ACTIVE is set.
    bool is_active() const { return (flags & ELEMENT_ACTIVE) != 0; }
    ///@{
    /// Switch the element on or off without calling anything.
    void enable() { flags |= ELEMENT_ACTIVE; }
    void disable() { flags &= ~ELEMENT_ACTIVE; }
    ///@}
};

/// An element that owns a screen area and shows further elements.
class VANTREL_API output_view_t : public element_t, public s_token {
public:
    element_t** elements = nullptr;  ///< null-terminated, not owned; may be null

    /// A view named _name (copied), showing no elements.
    explicit output_view_t(const char* _name = nullptr) : s_token(_name) {}
};

///@{
/// Sets the active bit, then calls e->activated(); deactivate_element clears
/// it, then calls e->deactivated(). Null logs the invalid-pointer message.
VANTREL_API void activate_element(element_t* _element);
VANTREL_API void deactivate_element(element_t* _element);
///@}

/// The module: named "ui". Both arrays are the host's (null-terminated, not owned).
class VANTREL_API ui_t : public ce_base_module {
public:
    /// The devices, in the order inputs are offered to them.
    input_device_t** dev_a = nullptr;
    /// The views handled each pass, in order.
    output_view_t** oviews_a = nullptr;

    ui_t();
    int init() override;  ///< 0
    /// One pass: every view whose elements array is set hands its inputs, in
    /// order, to each of its elements and then to the view itself; active
    /// elements get active() after their inputs. 0; -1 (logged) when either
    /// array is null.
    int execute() override;

    /// Queries each input of _element, acts on it, then calls active() when
    /// the element is active. Null logs.
    void _do_element(element_t* _element);
    /// Offers _input to the devices in order until one handles it; logs
    /// "no device can handle input %d" when none does.
    void _query_input(input_t* _input);
    /// Calls the input's callbacks for the bits the device left set (held,
    /// then pressed, then released) and moves the bits on.
    void _actualize_input(element_t* _element, input_t* _input);
};

}  // namespace vantrel
/// @}
