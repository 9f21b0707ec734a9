// A renderer test in its own temporary directory (the current directory while
// the test runs), with the recording render library at hand.
#pragma once

#include <filesystem>
#include <string>

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

}  // namespace vantrel_test
