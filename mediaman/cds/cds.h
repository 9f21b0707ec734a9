/// @file
/// The CDS container: a file of typed, named chunks in nested groups, with
/// whole foreign files embedded as chunks and opened later as sub-files.
///
/// A container is at once the open file, the table of chunk readers/writers
/// and the holder of the objects a read produced. Objects stay in the readers'
/// objects lists; they die with the container only after delete_type_objects().
/// @ingroup mediaman
#pragma once
/// @addtogroup mediaman
/// @{

#include <cstdio>

#include "kdbase/cfile.h"
#include "mediaman/cds/chunk_io.h"

namespace vantrel {

/// A group read from or written to a container.
class VANTREL_API cds_group_t : public group_t {
public:
    long start;  ///< position of the first byte behind the group's header
    long size;   ///< bytes of its contents (nested headers included)

    cds_group_t();
};

/// An embedded file. Its name is the entry's path ("/tex/x.tga") after a read,
/// or the path of the file on disk that write_all embeds.
class VANTREL_API chunk_entry_t : public groupable_t {
public:
    long pos;   ///< position of the embedded file's first byte
    long size;  ///< its length in bytes

    chunk_entry_t();
};

/// The "GROU" reader/writer: its objects are the groups of the container.
class VANTREL_API chunk_grou : public chunk_io {
public:
    chunk_grou();
    /// Registers the group named h.id (reusing a group of that name), records
    /// its start, size and parent and makes it the current group. Consumes
    /// nothing. -1 when it cannot be made ("%s: unable to create group") or
    /// when the group would enclose itself.
    int read(cds& c, chunk_header& h) override;
    /// Writes "GROU", the group's current size and its name.
    int write(cds& c, groupable_t* g) override;
};

/// The "FILE" reader/writer: its objects are the embedded files.
class VANTREL_API chunk_file : public chunk_io {
public:
    chunk_file();
    /// Adds the entry "<group path><h.id>" with the payload's position and
    /// size, attached to the current group, and skips the payload. -1 with
    /// "unable to add entry for %s".
    int read(cds& c, chunk_header& h) override;
    /// o must be a chunk_entry_t naming a file on disk: writes a "FILE" chunk
    /// with that name as id and the file's bytes as payload. -1 when the file
    /// cannot be opened or copied, or is too large for a chunk.
    int write(cds& c, groupable_t* o) override;
};

// Creators for the type table: a new reader (the caller owns it), or null
// when it cannot be allocated.
/// A new "GROU" reader, or null.
VANTREL_API chunk_io* create_grou();
/// A new "FILE" reader, or null.
VANTREL_API chunk_io* create_file();

/// Where read_chunk searches.
enum cds_location {
    CDS_IN_FILE = 0,   ///< the whole file
    CDS_IN_GROUP = 1,  ///< from the current group (first located by a path)
};

/// Bytes of the stream buffer a container reads and writes through.
enum { CDS_STREAM_BUFFER = 256 * 1024 };
/// The longest move that skip() makes by reading rather than seeking.
enum { CDS_SKIP_BY_READING = 8 * 1024 };

/// read_chunk flag: search only up to the end of the current group.
enum { CDS_GROUP_ONLY = 1 };

/// A new group named with a copy of _name (at most 254 characters); null on
/// failure or a null name. The caller owns it.
VANTREL_API cds_group_t* create_cds_group(const char* _name);

/// A CDS container: a file of typed chunks in groups, with embedded files.
class VANTREL_API cds : public CFileE, public chunk_io, public groupable_t {
public:
    vantrel::chunk_grou chunk_grou;  ///< every group of the file
    vantrel::chunk_file chunk_file;  ///< the directory of embedded files
    /// Readers by type: GROU, CDSI (the container), FILE, then the media types
    /// made by init() and those added with add_type. Null-terminated.
    chunk_io* types[CDS_MAX_TYPES];
    cds_group_t* curr_group;  ///< group being read or written; null at top level

    cds();
    ///@{
    /// Deletes the readers made by init() or added, then the lists (and their
    /// objects where the lists own them).
    ~cds() override;
    cds(const cds&) = delete;
    cds& operator=(const cds&) = delete;
    ///@}

    ///@{
    /// The "CDSI" marker: reading does nothing, writing emits the 9-byte chunk.
    int read(cds& c, chunk_header& h) override;
    int write(cds& c, groupable_t* o) override;
    ///@}
    /// Creates the media chunk types. Call once before reading or writing media
    /// chunks (and before add_type). 0 or -1.
    int init() override;

    /// Opens an existing file for reading and writing (no truncation; a file
    /// that may not be changed is opened for reading only) and forgets the
    /// current group and every listed object without deleting it. The lists
    /// then own nothing: call delete_type_objects() after reading for the
    /// container to delete what it read. -1 with "unable to open %s".
    int open(const char* _filename);
    /// open, then read_all.
    int load(const char* _filename);
    /// Creates or truncates the file and writes everything (write_all).
    /// -1 with "unable to create %s" or when writing fails.
    int create(const char* _filename);

    /// Reads every chunk of the file from its start. 0 at the end of the file,
    /// also where the file is cut short: a chunk whose payload runs past the
    /// end of the file (or of its group) is dropped with a warning naming its
    /// byte offset and reading ends there, keeping what was read; a group cut
    /// short keeps the contents the file has. -1 on a failing reader, a
    /// malformed chunk or a stream error ("read error on %s at byte %d", then
    /// the reason), or an unopened file. Objects read so far stay listed.
    int read_all();
    /// Reads the first chunk named _idstr within the range that where, _path
    /// and _flags (CDS_GROUP_ONLY) select. Group headers met on the way are
    /// registered and closed again behind their contents (an empty one right
    /// behind its header); a group found is registered and becomes current.
    /// 0, or -1 when not found ("%s: not found"), cut short by the end of the
    /// file, on a read error or a failing reader.
    int read_chunk(const char* _idstr, cds_location where, const char* _path, int _flags);
    /// The same for the n-th header of the range (from 0; group headers count).
    /// -1 with "chunk %d not found".
    int read_chunk(unsigned int n, cds_location where, const char* _path, int _flags);

    /// Writes the whole container from position 0: the CDSI chunk when the
    /// container's own list is not empty, every top-level group with its
    /// subtree (subgroups first, then members by type), then the ungrouped
    /// objects by type. Membership is matched by the parent's name. -1 when a
    /// writer fails, a group tree's names form a cycle, or a write falls short
    /// ("error writing to %s at offset %d").
    int write_all();

    /// The registered group of that name, or a new one appended to the group
    /// list. Null on failure ("unable to add group %s").
    cds_group_t* add_group(const char* _name);
    /// _child->parent = curr_group.
    void set_group(groupable_t* _child);
    /// Prefixes _path (a buffer of _max bytes) with "/" and the names of _g and
    /// its ancestors, outermost first: "" in group b inside a gives "/a/b/".
    /// A null _g makes the buffer just "/". Returns _path, or null (buffer
    /// unchanged) when the result would not fit.
    static char* get_group_path(group_t* _g, char* _path, int _max);
    /// The embedded file of that name, or null.
    chunk_entry_t* _get_file_entry(const char* _fname);
    /// Opens the embedded file _fname as a read-only sub-file in f: positions
    /// in f count from the entry's first byte. -1 with "unable to find %s".
    /// The container's file must stay in place while f is open.
    int open_file(CFile& f, const char* _fname);

    ///@{
    /// Make the container own (delete) / not own the objects of every type.
    void delete_type_objects();
    void keep_type_objects();
    ///@}

    /// "%s%s: %d file(s)\\n", then "%s..%s (pos=%d size=%d)\\n" per entry.
    void list_files(FILE* out, const char* tabs);

    /// Writes a chunk header at the current position; returns the position of
    /// its size field (-1 for a null type). A null id is written empty; ids
    /// are cut to 254 characters.
    long write_header(const char* _type, int size, const char* id);
    /// Writes (current position - start) as the 32-bit size at pos and returns
    /// to the current position. 0, or -1 when the size does not fit 31 bits.
    /// Within write_all on a file open for update the size lands in the file
    /// when write_all finishes, so that small chunks stream without a seek each.
    int write_size_at_pos(long pos, long start);
    /// Moves n bytes on from the current position (nothing for n <= 0), as
    /// Forward does: for a chunk reader that leaves part of its payload. A
    /// seek costs a system call every time, even within what the stream has
    /// buffered, so a short move reads the bytes and drops them. True; false
    /// when the file ends or a read or seek fails on the way.
    bool skip(long n);

    /// Reads the header at the current position and checks it: the id must end
    /// within CDS_ID_MAX bytes and the size must not be negative (else -1 with
    /// "read error on %s at byte %d" and the reason). A group header whose
    /// contents run past limit (the file's size) is cut to the file. 0; 1 when
    /// the file ends inside the header (the end of the file; a warning when
    /// some of it is there); 2 when the payload runs past limit or the current
    /// group's end (a warning naming the offset: the chunk is to be dropped).
    /// Used by the scans and by tools that walk a file chunk by chunk.
    int _read_header(chunk_header& h, long limit);
    ///@{
    /// Leaves every current group whose contents end at or before the current
    /// position (or pos).
    void _close_groups();
    void _close_groups(long pos);
    ///@}

private:
    void _reset();
    int _scan(chunk_header& h, long end, const char* id, long n, long limit);
    int _locate(const char* path, long limit);
    int _read_chunk(const char* id, long n, cds_location where, const char* path, int flags);
    int _read_header(chunk_header& h, long limit, long pos, long& payload);
    long _read_payload(chunk_io* io, chunk_header& h, long pos);
    void _buffer_stream();
    long _write_group(groupable_t* g, struct name_chain* chain, const struct member_index* index);
    int _write_members(groupable_t* g);
    int _write_members(groupable_t* g, const struct member_index& index);
    void _read_error(long pos, const char* what);
    bool _defer_patch(long pos, int32_t size);
    void _apply_patches(long end);
    void _drop_patches();

    /// Size fields that write_all fills in when it has written everything.
    struct size_patch* patches;
    int patch_count;
    int patch_room;
    bool defer_patches;
    char* stream_buffer;  ///< the open stream's buffer (see _buffer_stream)
};

/// The group (group_t::dump), then "%sstart: %d\\n" and "%ssize: %d\\n";
/// "invalid cds_group_t\\n" for a null group.
VANTREL_API void dump_cds_group_t(FILE* out, cds_group_t* g, const char* tabs);
/// Every group of the list.
VANTREL_API void dump_cds_group_t_l(FILE* out, d_list* l, const char* tabs);

}  // namespace vantrel
/// @}
