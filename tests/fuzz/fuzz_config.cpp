// Script files with configuration blocks: tokenizer, statements, expressions
// and calls into published objects and the built-in function sets.
#include "base_script/dot_config.h"
#include "base_script/script_func.h"
#include "base_script/script_sets.h"
#include "fuzz_util.h"

#include <memory>
#include "tests/base_script/player.h"

using namespace vantrel;

namespace {

int add2(int p, int q)
{
    return p + q;
}
script_func add2_f("add2", add2, "i=ii");

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static vantrel_fuzz::quiet_log quiet;
    r_struct scope(false);
    dot_script script;
    dot_config cfg;
    script.add_plugin(&cfg);
    script.globals = &scope;
    vantrel_test::published_t thing("thing", "i", "v", "s");
    // "thing[k].member" steps by the stride through an array of objects;
    // this one stands alone, and says so.
    thing.stride = 0;
    std::unique_ptr<r_var> a(create_r_var("a", 4)), v(create_r_var("v", 4));
    a->type = r_int;
    v->type = r_float;
    scope.add(&thing);
    scope.add(a.get());
    scope.add(v.get());
    scope.add(&add2_f);
    errorlog_add_funcs(scope);
    support_add_funcs(scope);
    std::string text = ". config\n" + vantrel_fuzz::as_text(data, size) + "\n./config\n";
    script.process(vantrel_fuzz::as_file(reinterpret_cast<const uint8_t*>(text.data()), text.size(), ".ds").c_str());
    scope.empty();
    return 0;
}
