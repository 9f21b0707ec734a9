// A renderer test in its own temporary directory (the current directory while
// the test runs), with the recording render library at hand; module_test adds
// the renderer module with a script scope and a "bin" folder.
#pragma once

#include <filesystem>
#include <string>

#include "base_script/dot_config.h"
#include "base_script/dot_script.h"
#include "base_script/script_sets.h"
#include "morvane/morvane.h"
#include "morvane/rlib.h"
#include "platform/platform.h"
#include "rlib/record/record.h"
#include "tests/common/log_fixture.h"

namespace vantrel_test {

inline std::string rlib_path(const char* name)
{
    return std::string(RLIB_DIR) + "/" + name + RLIB_SUFFIX;
}

class rlib_test : public log_test {
protected:
    std::string old_dir;
    vantrel::rlib_info_t info{};

    void SetUp() override
    {
        log_test::SetUp();
        old_dir = std::filesystem::current_path().string();
        std::filesystem::current_path(dir);
    }
    void TearDown() override
    {
        vantrel::free_rlib(&info, &vantrel::r_imports);
        std::filesystem::current_path(old_dir);
        log_test::TearDown();
    }
    // The record of the library loaded into info (or by the module, into handle).
    static vantrel::rlib_record_t* record_of(void* handle)
    {
        auto log = reinterpret_cast<vantrel::rlib_record_log_func>(
            vantrel::platform_library_symbol(handle, "rlib_record_log"));
        return log ? log() : nullptr;
    }
    // The names of the recorded calls from index from on, space-separated.
    static std::string ops(vantrel::rlib_record_t* r, int from = 0)
    {
        std::string s;
        for (int i = from; i < r->count; ++i)
            s += (s.empty() ? "" : " ") + std::string(r->calls[i].op);
        return s;
    }
};

class module_test : public rlib_test {
protected:
    vantrel::r_struct scope{false};
    vantrel::dot_script script;
    vantrel::dot_config cfg;
    vantrel::morvane_t mrv;

    void SetUp() override
    {
        rlib_test::SetUp();
        script.add_plugin(&cfg);
        script.globals = &scope;
        vantrel::ce_set_script(vantrel::ce_shared, &script);
        vantrel::ce_set_globals(vantrel::ce_shared, &scope);
        mrv.shared = vantrel::ce_shared;
        ASSERT_EQ(vantrel::support_add_funcs(scope), 0);
        ASSERT_EQ(vantrel::tracer_add_funcs(scope), 0);
        ASSERT_EQ(vantrel::transform_basic_add_funcs(scope), 0);
        ASSERT_TRUE(std::filesystem::create_directory("bin"));
    }
    void TearDown() override
    {
        mrv.cleanup();
        scope.empty();
        rlib_test::TearDown();
    }
    void link(const char* library) { write_file("bin/rlib.link", rlib_path(library)); }
    // Writes lines as a config section of file; the start-up script is "bin/morvane.ds".
    std::string config(const std::string& file, const std::string& lines)
    {
        return write_file(file, ". config\n" + lines + "./config\n");
    }
    void startup(const std::string& lines) { config("bin/morvane.ds", lines); }
};

}  // namespace vantrel_test
