// Text utilities: number recognition, paths, enclosed text, hexadecimal dumps.
#pragma once

#include <cstdio>

#include "kdbase/export.h"

namespace vantrel {

// Writes the n bytes as "%02.2X " each followed by the raw bytes into out
// (3n + n + 1 bytes); returns out. Null arguments log and give null.
VANTREL_API char* dump_hex_line(char* _line, char* _buf, int n, char* _tabs);

}  // namespace vantrel
