// Shared plumbing of the fuzz harnesses: the input as a file, quiet logging.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "kdbase/errorlog.h"

namespace vantrel_fuzz {

// The input as a read-only stream; the caller closes it.
inline FILE* as_stream(const uint8_t* data, size_t size)
{
    FILE* f = tmpfile();
    if (f) {
        fwrite(data, 1, size, f);
        rewind(f);
    }
    return f;
}

// The input as a file of its own name (one per process), for readers that open paths.
inline std::string as_file(const uint8_t* data, size_t size, const char* ext)
{
    std::string path = "/tmp/vantrel_fuzz_" + std::to_string(getpid()) + ext;
    if (FILE* f = fopen(path.c_str(), "wb")) {
        fwrite(data, 1, size, f);
        fclose(f);
    }
    return path;
}

// The input as text, cut at the first NUL.
inline std::string as_text(const uint8_t* data, size_t size)
{
    std::string s(reinterpret_cast<const char*>(data), size);
    return s.substr(0, s.find('\0'));
}

// Failures are expected by the million: log nothing, to no file.
struct quiet_log {
    quiet_log()
    {
        ::set_logfile("/dev/null");
        ::set_log_priority(0);
    }
};

}  // namespace vantrel_fuzz
