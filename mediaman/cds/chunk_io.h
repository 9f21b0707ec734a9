/// @file
/// Chunk readers/writers of CDS containers and the table that finds them by
/// their four-character chunk type.
/// @ingroup mediaman
#pragma once
/// @addtogroup mediaman
/// @{

#include <cstdio>

#include "kdbase/d_list.h"
#include "kdbase/group.h"

namespace vantrel {

class cds;

/// Longest chunk id with its terminating NUL; ids are read into a buffer one
/// byte larger so that an id missing its NUL can be recognised.
enum { CDS_ID_MAX = 255 };
/// Slots of a type table, the terminating null included.
enum { CDS_MAX_TYPES = 1024 };

/// A chunk header as read from a container: on disk 4 type bytes, a signed
/// 32-bit little-endian size (payload bytes behind the id) and the NUL-ended id.
struct VANTREL_API chunk_header {
    char type[4];             ///< not terminated
    long size;  ///< bytes of the chunk, its header included
    char id[CDS_ID_MAX + 1];  ///< always terminated after a successful read
};

/// The abstract reader/writer of one chunk type.
class VANTREL_API chunk_io {
public:
    char type[4];  ///< the chunk type handled, not terminated
    /// Objects of this type that were read or are to be written. Not owned
    /// unless delete_elements is set (see cds::delete_type_objects).
    d_list objects;

    /// A reader and writer of chunks of the four-character _type.
    explicit chunk_io(const char* _type);
    chunk_io(const chunk_io&) = delete;
    chunk_io& operator=(const chunk_io&) = delete;

    /// Called with the container positioned right behind h; consumes the
    /// payload (h.size bytes), builds the object and appends it to objects.
    /// 0, or -1 (logged) on failure.
    virtual int read(cds& c, chunk_header& h) = 0;
    /// Writes one complete chunk (header and payload) for o at the current
    /// position. 0, or -1 on failure; a short write throws the int -1.
    virtual int write(cds& c, groupable_t* o) = 0;
    /// Declared behind read and write, which hold the first table slots.
    virtual ~chunk_io();
};

/// A creator of a reader, as listed in the creator table.
typedef chunk_io* (*chunk_io_creator)();

/// Appends one new reader per media creator of the creator table behind the
/// last reader of the table (slot 3 on a fresh table; a type already present
/// is not added twice) and terminates the table. 0; -1 when a creator fails
/// (then every reader from slot 3 on is deleted). The table owns the readers.
VANTREL_API int create_chunk_io_types(chunk_io** _types);
/// Deletes the readers from slot 3 up to the first null and sets slot 3 to
/// null. Slots 0 to 2 belong to the container and are left alone.
VANTREL_API void delete_chunk_io_types(chunk_io** _types);
/// The first reader whose type equals the first four bytes of _type, or null
/// after logging "unable to find chunk_io object for %s".
VANTREL_API chunk_io* get_chunk_io(chunk_io** _types, const char* _type);
/// Appends _io (allocated with KD_NEW) at the first null slot. Non-zero when it
/// was added: the table then owns it (delete_chunk_io_types deletes it). 0 when
/// a reader of that type is already present, when the table is full or on a
/// null argument: the caller keeps _io.
VANTREL_API int add_type(chunk_io** _types, chunk_io* _io);

/// "%s%.4s size=%d id=%s\\n".
VANTREL_API void dump_chunk_header(FILE* out, chunk_header& h, const char* tabs);

}  // namespace vantrel
/// @}
