/// @file
/// Text utilities: number recognition, paths, enclosed text, small array
/// helpers and hexadecimal dumps.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include <cstdio>

#include "platform/export.h"

namespace vantrel {

/// The first character of s that is neither a blank nor a tab. Null s logs
/// "skip_leadingspaces(): invalid parameters" and gives null.
VANTREL_API char* skip_leadingspaces(char* s);

/// Occurrences of c in s; null s logs "get_chr_count(): invalid parameter" -> 0.
VANTREL_API int get_chr_count(const char* s, char c);

/// True when every character is one of "0123456789-+eE." and the text holds
/// exactly one dot ("1." is a float, "1e5" is not). Only recognises the shape:
/// convert with scan_decimal. Null logs "is_float(): invalid parameter" -> false.
VANTREL_API bool is_float(const char* s);

/// True when every character is one of "0123456789-+x"; the empty text counts.
/// Null logs "is_int(): invalid parameter" -> false.
VANTREL_API bool is_int(const char* s);

/// Cuts s after its first max - 1 characters when it is longer (max < 1 leaves
/// the empty text). Returns s; null s logs the invalid-pointer message.
VANTREL_API char* strverify(char* _str, int max);

/// Finds the first delims[0] in s and copies what follows into out up to the
/// matching delims[1], counting nested pairs; the delimiters are not copied.
/// Without an opening delimiter out is empty; without a matching close the rest
/// of s is copied. out needs strlen(s) + 1 bytes. Returns the end of out (its
/// terminator). Null arguments or fewer than two delimiters log
/// "get_enclosed_str(): invalid parameters" and give null.
VANTREL_API char* get_enclosed_str(const char* s, const char* delims, char* out);

/// Copies src into dst up to the first c (or the end), terminated. Returns dst,
/// or null (logged) for a null argument.
VANTREL_API char* copy_upto(const char* _src, char* _dst, char c);

/// out (PATH_MAX_PATH bytes) = directory and file name of the path, without
/// drive and extension. Returns out; null arguments log the invalid-pointer
/// message naming _src or _out and give null.
VANTREL_API char* strip_ext(const char* _src, char* _out);
/// out (PATH_MAX_PATH bytes) = file name and extension of the path. As strip_ext.
VANTREL_API char* strip_path(const char* _src, char* _out);

/// When _path begins with _basepath, removes that beginning in place. Returns
/// _path; null arguments log the invalid-pointer message and give null.
VANTREL_API char* trunc_path(char* _path, const char* _basepath);

/// Index of the first of the first n entries of a equal to p; n when none;
/// -1 for a null p or a, or a negative n.
VANTREL_API int get_index(void* p, void** a, int n);

/// In an array of n ints ending with terminator, puts value where the
/// terminator was and the terminator in the next slot. Returns the index of
/// value, or -1 when the terminator is not among the first n - 1 slots (then
/// nothing changes) or a is null.
VANTREL_API int add_to_int_a(int* a, int n, int terminator, int value);

/// Sorts the n values ascending in place.
VANTREL_API void SortArray(unsigned long* a, unsigned long n);

/// Prints n bytes of buf as lines that start with "\<tabs\>0x\<offset\> " and are
/// filled by dump_hex_line (width: the line width in characters), then one
/// empty line. A null stream prints nothing; a null buf or tabs logs the
/// invalid-pointer message.
VANTREL_API void dump_hex(FILE* f, const void* buf, int n, int width, const char* tabs);

/// Prints prefix and a blank, then k bytes as "%02X " each, then the same k
/// bytes as characters (letters and digits as themselves, others as "."), then
/// a newline; returns k. With L = width - strlen(prefix), k = (L - L/3)/3 + 1,
/// at least 1 and at most n (width 79 with an 11-character prefix: 16 bytes).
/// n <= 0 or a null stream prints nothing and gives 0; a null buf or prefix
/// logs and gives 0.
VANTREL_API int dump_hex_line(FILE* f, const void* buf, int n, int width, const char* prefix);

/// Writes the n bytes as "%02X " each followed by the raw bytes into out
/// (3n + n + 1 bytes); returns out. Null arguments log and give null.
VANTREL_API char* dump_hex_line(char* _line, char* _buf, int n, char* _tabs);

}  // namespace vantrel
/// @}
