#include "kdbase/str_util.h"

#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

char* dump_hex_line(char* _line, char* _buf, int n, char* _tabs)
{
    CHECK_PTR(_line, nullptr);
    CHECK_PTR(_buf, nullptr);
    CHECK_PTR(_tabs, nullptr);
    char* out = _line;
    for (int i = 0; i < n; ++i)
        out += sprintf(out, "%02X ", (unsigned char)_buf[i]);
    memcpy(out, _buf, n > 0 ? (size_t)n : 0);
    out[n > 0 ? n : 0] = 0;
    return _line;
}

}  // namespace vantrel
