#include <string>

#include "platform/platform.h"
#include "tests/common/log_fixture.h"
#include "ui/ui.h"

using namespace vantrel;

namespace {

std::string calls;  // what the callbacks and elements did, in order

class probe_t : public output_view_t {
public:
    void activated() override { calls += "a"; }
    void active() override { calls += "A"; }
    void deactivated() override { calls += "d"; }
};

class ui_test : public vantrel_test::log_test {
protected:
    dev_keyb_t keyboard;
    input_device_t* devices[2] = {&keyboard, nullptr};
    in_keyb_t key{'W' | 0x100};  // only the low byte names the key
    input_t* inputs[2] = {&key, nullptr};
    probe_t element, view;
    element_t* elements[2] = {&element, nullptr};
    output_view_t* views[2] = {&view, nullptr};
    ui_t ui;

    void SetUp() override
    {
        log_test::SetUp();
        calls.clear();
        key.on_press = [](input_user_t*, input_t*) { calls += "P"; };
        key.while_held = [](input_user_t*, input_t*) { calls += "H"; };
        key.on_release = [](input_user_t*, input_t*) { calls += "R"; };
        element.inputs = inputs;
        view.elements = elements;
        ui.dev_a = devices;
        ui.oviews_a = views;
    }
    void TearDown() override
    {
        platform_set_key_state('W', false);
        log_test::TearDown();
    }
    std::string pass()
    {
        calls.clear();
        EXPECT_EQ(ui.execute(), 0);
        return calls;
    }
};

TEST_F(ui_test, held_key_calls_back_in_order_and_active_elements_run_each_pass)
{
    EXPECT_EQ(ui.init(), 0);
    activate_element(&element);
    EXPECT_EQ(calls, "a");
    platform_set_key_state('W', true);
    EXPECT_EQ(pass(), "PA");
    EXPECT_EQ(pass(), "HPA");
    platform_set_key_state('W', false);
    EXPECT_EQ(pass(), "RA");
    EXPECT_EQ(pass(), "A");
    EXPECT_EQ(key.flags, 0);

    // Switched off and on without callbacks; the view is handled after its elements.
    deactivate_element(&element);
    view.enable();
    EXPECT_EQ(calls, "Ad");
    EXPECT_EQ(pass(), "A");
    EXPECT_TRUE(view.is_active());
    EXPECT_FALSE(element.is_active());
}

TEST_F(ui_test, inputs_no_device_handles_and_views_without_elements)
{
    input_t mouse(7);
    input_t* mouse_inputs[2] = {&mouse, nullptr};
    element.inputs = mouse_inputs;
    for (int i = 0; i < 2; ++i) {
        clear_log();
        pass();
        EXPECT_TRUE(log_has("no device can handle input 7"));
    }
    EXPECT_EQ(mouse.flags, 0);
    EXPECT_EQ(keyboard.query(&mouse), -1);
    EXPECT_EQ(keyboard.query(nullptr), -1);

    // A view without elements is skipped whole, even when active.
    view.elements = nullptr;
    view.inputs = inputs;
    view.enable();
    platform_set_key_state('W', true);
    EXPECT_EQ(pass(), "");
    EXPECT_EQ(key.flags, 0);

    ui.dev_a = nullptr;
    EXPECT_EQ(ui.execute(), -1);
    EXPECT_TRUE(log_has("invalid pointer: dev_a=0"));
    ui.oviews_a = nullptr;
    EXPECT_EQ(ui.execute(), -1);
    EXPECT_TRUE(log_has("invalid pointer: oviews_a=0"));
    activate_element(nullptr);
    EXPECT_TRUE(log_has("invalid pointer: _element=0"));
}

}  // namespace
