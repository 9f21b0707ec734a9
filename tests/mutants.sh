#!/usr/bin/env bash
# Injects known faults one at a time into a copy of the library and runs the
# test executable of the folder each one is in: every fault must be caught.
#   tests/mutants.sh [BUILD]      BUILD: a build with the tests built (build)
# BIN="<dir> ..." runs the test executables of these builds instead, each
# against the same faulty libraries (to compare an older suite with this one).
# FOLDERS="<test> ..." injects only the faults of these folder tests (e.g. image).
set -uo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
bins=${BIN:-$build}
src=$(pwd)
work=$build/mutants
rm -rf "$work/src" && mkdir -p "$work/src"
git ls-files | tar -cf - -T - | tar -xmf - -C "$work/src"  # new times: rebuild what changed
launcher=$(command -v ccache || true)
cmake -S "$work/src" -B "$work/build" -DVANTREL_TESTS=OFF ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher} >/dev/null || exit 1

# folder test ~ file ~ sed expression (must change the file) ~ the fault
faults=$(cat <<'LIST'
kdbase~kdbase/errorlog.cpp~s/if (priority > log_priority)/if (priority >= log_priority)/~threshold lets one priority too few through
kdbase~kdbase/cfile.cpp~s/(u >> 24) | ((u >> 8) \& 0xFF00u)/(u >> 24) | ((u >> 16) \& 0xFF00u)/~32-bit byte swap takes the wrong byte
kdbase~kdbase/cfile.cpp~s/(uint16_t)((u >> 8) | (u << 8))/(uint16_t)u/~16-bit byte swap does nothing
kdbase~kdbase/args.cpp~s/n = ARGS_MAX;/n = ARGS_MAX - 1;/~at most 127 words instead of 128
kdbase~kdbase/str_util.cpp~s/(size_t)max - 1/(size_t)max/~strverify keeps max characters, not max - 1
kdbase~kdbase/d_list.cpp~s/last->next = nullptr;/(void)0;/~removing the last node leaves a dangling link
kdbase~kdbase/d_list.cpp~s/            delete o;/            (void)o;/~an owning list never frees its elements
kdbase~kdbase/mem_collector.cpp~s/if (fail_countdown-- == 0)/if (--fail_countdown == 0)/~injected allocation failure one call late
kdbase~kdbase/kdbase_math.cpp~s/frac >= 0.5 ?/frac > 0.5 ?/~round() rounds halves down
kdbase~kdbase/r_var.cpp~s/(unsigned int)i < count)/(unsigned int)i <= count)/~element bound accepts one past the end
kdbase~kdbase/r_pack.cpp~s/max_text = 2048/max_text = 2049/~packed texts cut one character late
kdbase~kdbase/r_pack.cpp~s/ok = v->set(idx, (int)get_be32(in + at));/ok = v->set(idx, (int)get_le32(in + at));/~packed ints read little-endian
kdbase~kdbase/regex.cpp~s/bool negate = m < end \&\& \*m == '^';/bool negate = false;/~a class never negates
base_script~base_script/base_script.cpp~s/while (n < BS_MAX_IDENT \&\&/while (n <= BS_MAX_IDENT \&\&/~identifier runs cut at 256, not 255
base_script~base_script/base_script.cpp~s/close - body < BS_MAX_QUOTED/close - body <= BS_MAX_QUOTED/~quoted text of 1025 characters
base_script~base_script/dot_script.cpp~s/if (ndepth >= DS_MAX_NESTING)/if (ndepth >= DS_MAX_NESTING - 1)/~one nesting level too few
base_script~base_script/dot_script.cpp~s/++contexts\[ndepth - 1\].consumed;/;/~nested files miscount their lines
engine~engine/cycle_engine.cpp~s/_name, CE_NAME_LEN)/_name, CE_NAME_LEN - 1)/~module names compared on 63 characters
engine~engine/passive_timer.cpp~s/    deadline = last + period;/    deadline = last + period + 1;/~timer deadline one millisecond late
platform~platform/platform_common.cpp~s/if (len >= 2 \&\& buf\[len - 2\] == '\\r'/if (len >= 3 \&\& buf[len - 2] == '\\r'/~a lone CRLF line keeps its CR
platform~platform/platform_common.cpp~s/if (\*c == '\/' || \*c == '\\\\')/if (*c == '\/')/~backslash is no path separator
primitives~primitives/n_poly.cpp~s/if (d > PL_EPSILON)/if (d > 0)/~points within the plane's thickness count as in front
primitives~primitives/n_poly.cpp~s/if (count\[s\] == SPLIT_MAX_VERTS)/if (count[s] == SPLIT_MAX_VERTS - 1)/~a split side holds 63 vertices, not 64
primitives~primitives/mesh.cpp~s/dotproduct_v(poly->normal, plane->normal) >= 0 ? PL_FRONT : PL_BACK/dotproduct_v(poly->normal, plane->normal) >= 0 ? PL_BACK : PL_FRONT/~a coplanar polygon goes to the wrong side
primitives~primitives/poly_list.cpp~s/if (curr_mesh->unify_vertices() < 0)/if (curr_mesh->unify_vertices() < -1)/~a failed unify is ignored
world~world/bsp_flow.cpp~s/if (pl.dist(c) + e < -eps) {/if (pl.dist(c) - e < -eps) {/~a leaf whose box reaches into a passage is left out of the sets
image~image/image.cpp~s/return (int)((4 - row % 4) % 4);/return (int)(4 - row % 4);/~rows already on 4 bytes get 4 bytes of padding
image~image/tga/tga.cpp~s/fields.set(0xF800, 0x07E0, 0x001F, 0)/fields.set(0x7C00, 0x03E0, 0x001F, 0)/~16-bit TGA read as 555
image~image/bmp/bmp.cpp~s/bool top_down = info.height < 0;/bool top_down = info.height > 0;/~BMP row order flipped
image~image/convert_x86.cpp~s/_mm_srli_si128(b, 8)/_mm_srli_si128(b, 4)/~the last four bytes of eight 3-byte results come from the wrong pixel
image~image/convert_x86.cpp~s/            if (a > 6)/            if (a > 7)/~a byte factor of 128, which the multiply takes as -128
mediaman~mediaman/chunk_reader.cpp~s/if (depth >= CHUNK_MAX_DEPTH)/if (depth > CHUNK_MAX_DEPTH)/~one nesting level too many
mediaman~mediaman/chunk_reader.cpp~s/if (size > f.GetSize() - p0)/if (size > f.GetSize() - p0 + 1)/~a chunk may claim one byte past the file
mediaman_cds~mediaman/cds/cds.cpp~s/if (payload > end || h.size > end - payload)/if (payload > end)/~a chunk may claim bytes the file lacks
mediaman_cds~mediaman/cds/cds.cpp~s/CFile::Read(dropped, (int)n) == (int)n/CFile::Read(dropped, (int)n - 1) == (int)n - 1/~short skips of a payload drop one byte too few
LIST
)
if [ -n "${FOLDERS:-}" ]; then
    faults=$(grep -E "^($(tr ' ' '|' <<<"$FOLDERS"))~" <<<"$faults")
fi

run_tests() {  # run_tests <bin> <folder test>: 0 when the suite passes
    local bin=$(realpath "$1") exe dir=$build
    exe=$bin/test_$2
    [ "$2" = engine ] && exe=$bin/tests/engine/test_engine && dir=$bin/tests/engine
    (cd "$dir" && LD_LIBRARY_PATH=$work/build VANTREL_SOURCE_DIR=$src timeout 300 "$exe" >/dev/null 2>&1)
}
verdicts() {  # one verdict per build in $bins
    local out="" b
    for b in $bins; do
        if run_tests "$b" "$1"; then out+="MISSED "; else out+="caught "; fi
    done
    echo "$out"
}

cmake --build "$work/build" --target vantrel >/dev/null || exit 1
missed=0
for suite in $(cut -d'~' -f1 <<<"$faults" | sort -u); do
    for b in $bins; do
        run_tests "$b" "$suite" || { echo "test_$suite of $b fails without a fault"; exit 1; }
    done
done
while IFS='~' read -r suite file expr what; do
    [ -n "$suite" ] || continue
    if ! sed "$expr" "$file" >"$work/src/$file" || cmp -s "$file" "$work/src/$file"; then
        cp "$file" "$work/src/$file"
        echo "STALE   $file: $what (the expression no longer applies)"; missed=$((missed + 1)); continue
    fi
    if cmake --build "$work/build" --target vantrel >/dev/null 2>&1; then
        result=$(verdicts "$suite")
        [[ $result == *MISSED* ]] && missed=$((missed + 1))
    else
        result="BUILD? "
    fi
    echo "$result $file:$(diff <(cat "$file") "$work/src/$file" | head -1 | grep -oE '^[0-9]+') $what"
    cp "$file" "$work/src/$file"
done <<<"$faults"
cmake --build "$work/build" --target vantrel >/dev/null
echo "$missed fault(s) missed"
exit $((missed > 0))
