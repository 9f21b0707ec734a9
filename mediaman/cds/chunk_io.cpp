#include "mediaman/cds/chunk_io.h"

#include <cstring>

#include "kdbase/errorlog.h"
#include "kdbase/mem_collector.h"
#include "mediaman/cds/cds.h"
#include "mediaman/cds/anim_chunks.h"
#include "mediaman/cds/bsp_chunks.h"
#include "mediaman/cds/geometry_chunks.h"

static vantrel::mc_init mc_guard;

namespace vantrel {

// The creators in type-table order. The first two are the container's own
// GROU and FILE readers (CDSI is the container itself); the media chunk
// types follow them, each added here by the code that implements it, in the
// order TEXT, MESH, MODL, BSPT, MATL, SHAD, CSTK, ANIM.
static const chunk_io_creator creators[] = {
    create_grou,
    create_file,
    create_text,
    create_mesh,
    create_modl,
    create_bspt,
    create_matl,
    create_shad,
    create_cstk,
    create_anim,
    nullptr,
};
// Index of the first creator that create_chunk_io_types calls.
static const int first_media_creator = 2;
// The table slot where media readers start.
static const int first_media_slot = 3;

chunk_io::chunk_io(const char* _type) : objects(0)
{
    memset(type, 0, sizeof type);
    if (_type)
        memcpy(type, _type, strnlen(_type, sizeof type));
}

chunk_io::~chunk_io() = default;

static int find_type(chunk_io** types, const char* type)
{
    int i = 0;
    for (; types[i]; ++i)
        if (memcmp(types[i]->type, type, 4) == 0)
            return i;
    return -1;
}

static int first_free_slot(chunk_io** types)
{
    int i = 0;
    while (types[i])
        ++i;
    return i;
}

int create_chunk_io_types(chunk_io** _types)
{
    CHECK_PTR(_types, -1);
    int slot = first_free_slot(_types);
    if (slot < first_media_slot)
        slot = first_media_slot;
    for (int i = first_media_creator; creators[i]; ++i) {
        chunk_io* io = creators[i]();
        if (!io) {
            delete_chunk_io_types(_types);
            return -1;
        }
        if (find_type(_types, io->type) >= 0) {
            delete io;
            continue;
        }
        if (slot >= CDS_MAX_TYPES - 1) {
            ELOG(EL_MINDEBUG, "create_chunk_io_types(): type table is full");
            delete io;
            delete_chunk_io_types(_types);
            return -1;
        }
        _types[slot++] = io;
        _types[slot] = nullptr;
    }
    return 0;
}

void delete_chunk_io_types(chunk_io** _types)
{
    CHECK_PTR_V(_types);
    for (int i = first_media_slot; i < CDS_MAX_TYPES && _types[i]; ++i) {
        delete _types[i];
        _types[i] = nullptr;
    }
}

chunk_io* get_chunk_io(chunk_io** _types, const char* _type)
{
    CHECK_PTR(_types, nullptr);
    CHECK_PTR(_type, nullptr);
    // A name shorter than four characters is padded as chunk types are, and
    // never read beyond its end.
    char type4[4] = {0, 0, 0, 0};
    memcpy(type4, _type, strnlen(_type, sizeof type4));
    int i = find_type(_types, type4);
    if (i >= 0)
        return _types[i];
    ELOG(EL_MINDEBUG, "unable to find chunk_io object for %.4s", _type);
    return nullptr;
}

int add_type(chunk_io** _types, chunk_io* _io)
{
    CHECK_PTR(_types, 0);
    CHECK_PTR(_io, 0);
    if (find_type(_types, _io->type) >= 0)
        return 0;
    int slot = first_free_slot(_types);
    if (slot >= CDS_MAX_TYPES - 1) {
        ELOG(EL_MINDEBUG, "add_type(): type table is full, %.4s not added", _io->type);
        return 0;
    }
    _types[slot] = _io;
    _types[slot + 1] = nullptr;
    return 1;
}

void dump_chunk_header(FILE* out, chunk_header& h, const char* tabs)
{
    if (!out)
        return;
    fprintf(out, "%s%.4s size=%ld id=%s\n", tabs ? tabs : "", h.type, h.size, h.id);
}

}  // namespace vantrel
