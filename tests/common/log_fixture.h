// Test support: a fresh temporary directory per test, the error log pointed at
// a file inside it, and helpers to read the log back.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace vantrel_test {

class log_test : public ::testing::Test {
protected:
    ~log_test() override;
    void SetUp() override;
    void TearDown() override;

    // The lines written to the log since the test started (without '\n').
    std::vector<std::string> log_lines() const;
    // True when some log line contains text.
    bool log_has(const std::string& text) const;
    // Forget what was logged so far.
    void clear_log();
    // A path inside the test's temporary directory.
    std::string path(const std::string& name) const;
    // Writes bytes to a file in the temporary directory; returns its path.
    std::string write_file(const std::string& name, const std::string& bytes) const;
    std::string read_file(const std::string& name) const;

    std::string dir;
    std::string log_path;
};

// Everything print wrote to the stream it was given, as text (a diagnostic
// printer's output).
std::string capture(const std::function<void(FILE*)>& print);

// A program built beside the tests (a path relative to the build directory
// without its extension, e.g. "tools/vantrel-cds"), as the system writes it.
std::string program_path(const std::string& name);
bool program_built(const std::string& name);
// Runs such a program with args (paths in double quotes) through the shell;
// what it writes to both streams goes to out, or, when out is null, where
// args redirect it. Its exit code, or -1.
int run_program(const std::string& name, const std::string& args, std::string* out);

// The root of the source tree (for data files shipped with the project).
std::string source_dir();
// ../shared/testdata relative to the source root; empty when absent.
std::string testdata_dir();

}  // namespace vantrel_test
