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
#include "player.h"
#include "tests/common/log_fixture.h"

namespace vantrel_test {

// A published object: "i" (int), "v" (4 floats) and "s" (text).
class thing_t : public published_t {
public:
    explicit thing_t(const char* _name) : published_t(_name, "i", "v", "s") {}
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
