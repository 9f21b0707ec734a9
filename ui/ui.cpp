#include "ui/ui.h"

#include <cstdio>

#include "engine/passive_timer.h"
#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

input_t::input_t(int _code)
    : code(_code), flags(0), on_press(nullptr), while_held(nullptr), on_release(nullptr)
{
}

input_device_t::~input_device_t() = default;

int dev_keyb_t::query(input_t* _input)
{
    CHECK_PTR(_input, -1);
    if (!dynamic_cast<in_keyb_t*>(_input))
        return -1;
    if (k_get_key_state((unsigned char)(_input->code & 0xff))) {
        _input->flags |= INPUT_PRESSED;
    } else if (_input->flags & INPUT_HELD) {
        _input->flags &= ~INPUT_HELD;
        _input->flags |= INPUT_RELEASED;
    }
    return 0;
}

element_t::~element_t() = default;

void activate_element(element_t* _element)
{
    CHECK_PTR_V(_element);
    _element->flags |= ELEMENT_ACTIVE;
    _element->activated();
}

void deactivate_element(element_t* _element)
{
    CHECK_PTR_V(_element);
    _element->flags &= ~ELEMENT_ACTIVE;
    _element->deactivated();
}

ui_t::ui_t()
{
    snprintf(name, sizeof name, "ui");
}

int ui_t::init()
{
    return 0;
}

int ui_t::execute()
{
    CHECK_PTR(oviews_a, -1);
    CHECK_PTR(dev_a, -1);
    for (output_view_t** v = oviews_a; *v; ++v) {
        if (!(*v)->elements)
            continue;
        for (element_t** e = (*v)->elements; *e; ++e)
            _do_element(*e);
        _do_element(*v);
    }
    return 0;
}

void ui_t::_do_element(element_t* _element)
{
    CHECK_PTR_V(_element);
    if (_element->inputs) {
        for (input_t** in = _element->inputs; *in; ++in) {
            _query_input(*in);
            _actualize_input(_element, *in);
        }
    }
    if (_element->is_active())
        _element->active();
}

void ui_t::_query_input(input_t* _input)
{
    CHECK_PTR_V(_input);
    for (input_device_t** d = dev_a; d && *d; ++d)
        if ((*d)->query(_input) == 0)
            return;
    ELOG(EL_MINDEBUG, "no device can handle input %d", _input->code);
}

void ui_t::_actualize_input(element_t* _element, input_t* _input)
{
    CHECK_PTR_V(_element);
    CHECK_PTR_V(_input);
    input_user_t* user = _element;
    if ((_input->flags & INPUT_HELD) && _input->while_held)
        _input->while_held(user, _input);
    if (_input->flags & INPUT_PRESSED) {
        if (_input->on_press)
            _input->on_press(user, _input);
        _input->flags = (_input->flags & ~INPUT_PRESSED) | INPUT_HELD;
    }
    if (_input->flags & INPUT_RELEASED) {
        if (_input->on_release)
            _input->on_release(user, _input);
        _input->flags &= ~INPUT_RELEASED;
    }
}

}  // namespace vantrel
