#!/usr/bin/env python3
"""Turns the // comments of public headers into Doxygen comments: a block
directly above a declaration becomes ///, a comment after a member on its line
becomes ///<, and the block that opens the file becomes the file's page in the
group of its folder. A block above several one-line function declarations
documents them all (a member group). Run on headers that still use // (converted ones are left alone):
    docs/doc_comments.py HEADER...
"""
import re
import sys

SKIP_NEXT = re.compile(r'^\s*(#(?!define)|}|public:|private:|protected:|$)')
DECL = re.compile(r'^\s*[^/\s#}][^{}]*\([^{}]*;\s*(//.*)?$')  # one-line function or typedef
TRAILING = re.compile(r'^(\s*[^/\s#][^"]*?[;,{]\s*)//(?!/)\s?(.*)$')


def escape(text):
    """Keeps plain text plain: backslashes, <words> and operators are not markup."""
    text = text.replace('\\', '\\\\')
    text = re.sub(r'<(\w+)>', r'\\<\1\\>', text)
    # A scoped operator reads as a link request: say whose operator it is.
    return re.sub(r'(\w*)::operator', lambda m: (m.group(1) + "'s" if m.group(1) else 'the global') + ' operator', text)


def doc(line, marker):
    m = re.match(r'^(\s*)//\s?(.*)$', line)
    return (m.group(1) + marker + ' ' + escape(m.group(2))).rstrip()


def group_of(path):
    parts = path.split('/')
    return parts[0] if len(parts) > 1 else 'misc'


def convert(path):
    text = open(path).read()
    if '/// @file' in text:
        return  # converted already
    lines = text.split('\n')
    out = []
    i = 0
    first_block = True
    close_after = -1
    while i < len(lines):
        line = lines[i]
        if re.match(r'^\s*//(?!/)', line):
            j = i
            while j < len(lines) and re.match(r'^\s*//(?!/)', lines[j]):
                j += 1
            block = lines[i:j]
            # Section rules ("// ---- heap ----") stay plain comments.
            while block and re.match(r'^\s*//\s*-{3,}', block[0]):
                out.append(block.pop(0))
            if not block:
                i = j
                continue
            nxt = lines[j] if j < len(lines) else ''
            if first_block and all(not l.strip() or l.startswith('//') for l in lines[:i]):
                first_block = False
                out.append('/// @file')
                out.extend(doc(l, '///') for l in block)
                out.append('/// @ingroup ' + group_of(path))
            elif not SKIP_NEXT.match(nxt):
                k = j
                indent = re.match(r'^\s*', block[0]).group(0)
                while k < len(lines) and DECL.match(lines[k]) and lines[k].startswith(indent) \
                        and not lines[k][len(indent)].isspace():
                    k += 1
                if k - j >= 2:
                    out.append(indent + '///@{')
                    close_after = k - 1
                out.extend(doc(l, '///') for l in block)
            else:
                out.extend(block)
            i = j
            continue
        if line.strip() == '#pragma once' and not first_block:
            # Everything the header declares belongs to its folder's group.
            out.extend([line, '/// @addtogroup ' + group_of(path), '/// @{'])
            i += 1
            continue
        m = TRAILING.match(line)
        if m and not line.lstrip().startswith(('return', 'if', 'for', 'while')):
            line = m.group(1) + '///< ' + escape(m.group(2))
        out.append(line)
        if i == close_after:
            out.append(re.match(r'^\s*', line).group(0) + '///@}')
        i += 1
    if '/// @{' in out:
        while out and out[-1] == '':
            out.pop()
        out += ['/// @}', '']
    open(path, 'w').write('\n'.join(out))


for p in sys.argv[1:]:
    convert(p)
