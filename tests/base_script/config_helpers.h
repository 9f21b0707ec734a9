// A configuration plug-in wired to a script and a shared scope, with a small
// published object, for the configuration tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base_script/dot_config.h"
#include "base_script/script_func.h"
#include "base_script/script_var.h"
#include "kdbase/d_list.h"
#include "tests/common/log_fixture.h"

namespace vantrel_test {

// A published object: an int, a 4-float vector and a text.
class thing_t : public vantrel::script_var {
public:
    vantrel::r_var i, v, s;
    float vec[4] = {0, 0, 0, 0};

    explicit thing_t(const char* _name)
    {
        name = _name;
        stride = sizeof(thing_t);
        i.set(0, 0);
        v.set_storage(vec, sizeof vec);
        add(&i, "i", vantrel::r_int, 1);
        add(&v, "v", vantrel::r_float, 4);
        add(&s, "s", vantrel::r_string, 1);
    }
};

class config_test_base : public log_test {
protected:
    vantrel::r_struct scope{false};
    vantrel::dot_script script;
    vantrel::dot_config cfg;
    std::vector<std::unique_ptr<vantrel::r_var>> owned;

    void SetUp() override
    {
        log_test::SetUp();
        script.add_plugin(&cfg);
        script.globals = &scope;
    }
    void TearDown() override
    {
        scope.empty();
        log_test::TearDown();
    }
    // A scope variable of n elements of type t, zeroed.
    vantrel::r_var* share(const char* name, vantrel::r_type t, int n = 1)
    {
        vantrel::r_var* v = vantrel::create_r_var(name, n);
        v->type = t;
        owned.emplace_back(v);
        scope.add(v);
        return v;
    }
    int store_count() { return cfg.store.list.count; }
    // Runs lines as one configuration block of a script file; the file line
    // of a failing statement, 0, or -1.
    int run(const std::string& lines, const std::string& file = "t.ds")
    {
        return script.process(write_file(file, ". config\n" + lines + "./config\n").c_str());
    }
};

}  // namespace vantrel_test
