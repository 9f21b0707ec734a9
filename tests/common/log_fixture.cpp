#include "tests/common/log_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "kdbase/errorlog.h"
#include "platform/platform.h"

namespace vantrel_test {

void log_test::SetUp()
{
    namespace fs = std::filesystem;
    std::random_device seed;
    std::error_code ec;
    for (int tries = 0; dir.empty() && tries < 100; ++tries) {
        fs::path d = fs::temp_directory_path(ec) / ("vantrel-test-" + std::to_string(seed()));
        if (!ec && fs::create_directory(d, ec))
            dir = d.generic_string();
    }
    ASSERT_FALSE(dir.empty()) << "no temporary directory";
    log_path = dir + "/errorlog";
    set_logfile(log_path.c_str());
    set_log_priority(10);
    set_display_message_func(nullptr);
    set_display_status_func(nullptr);
}

void log_test::TearDown()
{
    set_display_message_func(nullptr);
    set_display_status_func(nullptr);
    set_log_priority(10);
    // Whatever is logged between tests goes beside the test folders.
    static const std::string between =
        (std::filesystem::temp_directory_path() / "vantrel-test-errorlog").generic_string();
    set_logfile(between.c_str());
}

log_test::~log_test()
{
    // After the test's own members are gone: on some systems a file still
    // open cannot be removed. Read-only files (a test's own) neither.
    if (dir.empty())
        return;
    std::error_code ec;
    for (auto& e : std::filesystem::recursive_directory_iterator(dir, ec))
        std::filesystem::permissions(e.path(), std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir, ec);
    if (ec)
        ADD_FAILURE() << "could not remove " << dir;
    dir.clear();
}

std::vector<std::string> log_test::log_lines() const
{
    std::vector<std::string> lines;
    std::ifstream in(log_path);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

bool log_test::log_has(const std::string& text) const
{
    for (const std::string& l : log_lines())
        if (l.find(text) != std::string::npos)
            return true;
    return false;
}

void log_test::clear_log()
{
    std::error_code ec;
    std::filesystem::remove(log_path, ec);
}

std::string log_test::path(const std::string& name) const
{
    return dir + "/" + name;
}

std::string log_test::write_file(const std::string& name, const std::string& bytes) const
{
    std::string p = path(name);
    std::ofstream out(p, std::ios::binary);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    return p;
}

std::string log_test::read_file(const std::string& name) const
{
    std::ifstream in(path(name), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string capture(const std::function<void(FILE*)>& print)
{
    std::string text;
    FILE* f = std::tmpfile();
    if (!f) {
        ADD_FAILURE() << "no temporary file";
        return text;
    }
    print(f);
    std::rewind(f);
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
        text.append(buf, n);
    std::fclose(f);
    return text;
}

std::string program_path(const std::string& name)
{
    std::filesystem::path p = std::filesystem::current_path() / (name + VANTREL_EXE_SUFFIX);
    return p.make_preferred().string();
}

bool program_built(const std::string& name)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(program_path(name), ec);
}

int run_program(const std::string& name, const std::string& args, std::string* out)
{
    std::string cmd = "\"" + program_path(name) + "\" " + args;
    if (!out)
        return vantrel::platform_run_command(cmd.c_str());
    std::filesystem::path log = std::filesystem::temp_directory_path() /
                                ("vantrel-run-" + std::to_string(std::random_device()()) + ".txt");
    cmd += " >\"" + log.string() + "\" 2>&1";
    int code = vantrel::platform_run_command(cmd.c_str());
    std::ifstream in(log, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    in.close();
    *out = s.str();
    std::error_code ec;
    std::filesystem::remove(log, ec);
    return code;
}

std::string source_dir()
{
    const char* d = getenv("VANTREL_SOURCE_DIR");
    return d ? d : VANTREL_SOURCE_ROOT;
}

std::string testdata_dir()
{
    std::string d = source_dir() + "/../shared/testdata";
    std::error_code ec;
    return std::filesystem::is_directory(d, ec) ? d : std::string();
}

}  // namespace vantrel_test
