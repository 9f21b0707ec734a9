#include "tests/common/log_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "kdbase/errorlog.h"

namespace vantrel_test {

void log_test::SetUp()
{
    char templ[] = "/tmp/vantrel-test-XXXXXX";
    char* d = mkdtemp(templ);
    ASSERT_NE(d, nullptr);
    dir = d;
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
    set_logfile("/dev/null");
    std::string cmd = "rm -rf '" + dir + "'";
    if (system(cmd.c_str()) != 0)
        ADD_FAILURE() << "could not remove " << dir;
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
    unlink(log_path.c_str());
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

std::string source_dir()
{
    const char* d = getenv("VANTREL_SOURCE_DIR");
    return d ? d : VANTREL_SOURCE_ROOT;
}

std::string testdata_dir()
{
    std::string d = source_dir() + "/../shared/testdata";
    struct stat st;
    return stat(d.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? d : std::string();
}

}  // namespace vantrel_test
