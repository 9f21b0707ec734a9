/// @file
/// Binary and text files with a selectable byte order, views of a stretch of a
/// file as a file of its own (virtual files), the machine's byte order, byte
/// swapping, bit fields of pixel formats and named byte buffers.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"
#include "kdbase/group.h"

namespace vantrel {

class d_list;

// ---- byte order --------------------------------------------------------------

/// A byte order: one of the BYTEORDER_ values.
typedef int sys_byteorder_t;
/// The byte orders a machine or a file can have.
enum {
    /// Neither of the two (a machine whose layout of 0x0102 is neither).
    BYTEORDER_UNKNOWN = 0,
    /// Least significant byte first; the default of a file's contents.
    BYTEORDER_LITTLE_ENDIAN = 1,
    /// Most significant byte first (network order).
    BYTEORDER_BIG_ENDIAN = 2,
};

/// The machine's byte order, detected once from the memory layout of 0x0102.
struct VANTREL_API sys_info_t {
    /// The machine's order; BYTEORDER_UNKNOWN when 0x0102 is stored neither way.
    sys_byteorder_t byteorder;

    /// Detects the machine's order.
    sys_info_t();
    ///@{
    /// To network (big-endian) order: reversed on a little-endian machine,
    /// otherwise unchanged; ntohs/ntohl convert back.
    uint16_t(htons)(uint16_t v) const;
    uint32_t(htonl)(uint32_t v) const;
    uint16_t(ntohs)(uint16_t v) const;
    uint32_t(ntohl)(uint32_t v) const;
    ///@}
};

/// The process-wide record; valid from the first call on, also during static
/// initialisation of other files.
VANTREL_API const sys_info_t& sys_info();

///@{
/// Reverse the bytes of a 32-bit or a 16-bit value.
VANTREL_API int32_t inverse_order(int32_t v);
VANTREL_API int16_t inverse_order(int16_t v);
///@}
///@{
/// Big-to-little and little-to-big: the same unconditional reversal.
VANTREL_API int32_t btol(int32_t v);
VANTREL_API int32_t ltob(int32_t v);
VANTREL_API int16_t btol(int16_t v);
VANTREL_API int16_t ltob(int16_t v);
///@}

///@{
/// Fixed-width fields in byte buffers, independent of the machine: get_ reads
/// the big- (be) or little-endian (le) value at p, put_ stores v there. p must
/// hold 2 or 4 bytes; nothing is checked.
inline uint16_t get_be16(const unsigned char* p) { return (uint16_t)(p[0] << 8 | p[1]); }
inline uint32_t get_be32(const unsigned char* p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}
inline uint16_t get_le16(const unsigned char* p) { return (uint16_t)(p[1] << 8 | p[0]); }
inline uint32_t get_le32(const unsigned char* p)
{
    return (uint32_t)p[3] << 24 | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0];
}
inline void put_be16(unsigned char* p, uint16_t v)
{
    p[0] = (unsigned char)(v >> 8);
    p[1] = (unsigned char)v;
}
inline void put_be32(unsigned char* p, uint32_t v)
{
    p[0] = (unsigned char)(v >> 24);
    p[1] = (unsigned char)(v >> 16);
    p[2] = (unsigned char)(v >> 8);
    p[3] = (unsigned char)v;
}
inline void put_le16(unsigned char* p, uint16_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}
inline void put_le32(unsigned char* p, uint32_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}
///@}

// ---- bit fields ----------------------------------------------------------------

/// Length of the lowest run of set bits of mask (0 for 0).
VANTREL_API int mask32_nbits(unsigned int mask);
/// (v & mask) shifted down by the trailing zero bits of mask (0 for mask 0).
VANTREL_API unsigned int bits32_LSB_align(unsigned int v, unsigned int mask);
/// v shifted up by the trailing zero bits of mask (0 for mask 0).
VANTREL_API unsigned int bits32_mask_align(unsigned int v, unsigned int mask);
/// Moves the field _src_mask of *_src into the field _dest_mask of *_dest, widened
/// or narrowed by shifting by the difference of the widths; the other bits of
/// *_dest are kept. 0, or -1 with the invalid-pointer message for null pointers.
VANTREL_API int bits32_conv(unsigned int* _dest, unsigned int _dest_mask, const unsigned int* _src,
                            unsigned int _src_mask);

// ---- files -----------------------------------------------------------------------

/// Index into CFile::m_aszOperationMode, the C stream modes: OM_R "r", OM_W
/// "w", OM_A "a", then the same with "+" (OM_RPLUS ...), then the binary modes
/// "rb", "wb", "ab" and "rb+", "wb+", "ab+" (OM_RB ... OM_ABPLUS).
enum OPERATION_MODE {
    OM_R = 0,
    OM_W = 1,
    OM_A = 2,
    OM_RPLUS = 3,
    OM_WPLUS = 4,
    OM_APLUS = 5,
    OM_RB = 6,
    OM_WB = 7,
    OM_AB = 8,
    OM_RBPLUS = 9,
    OM_WBPLUS = 10,
    OM_ABPLUS = 11,
    OM_COUNT
};

/// Paths are kept whole up to the system's limit; longer ones are refused.
enum { CFILE_MAX_PATH = PLATFORM_PATH_MAX };

/// A C stream whose 16- and 32-bit values are converted between the file's byte
/// order (little-endian unless set) and the machine's. Failures are results
/// (0, -1, false); typed reads on a closed file also log at EL_MINDEBUG. The value
/// of a failed typed read is unspecified (0 here): check Eof()/Error() or read
/// through CFileE.
///
/// A virtual file is a read-only view of bytes [voffset, voffset + vsize) of
/// another file, with its own stream: it never reads outside that stretch, and
/// positions (GetPos, SetPos, GetSize) are relative to the view.
class VANTREL_API CFile {
public:
    FILE* fp;                    ///< owned; null when closed
    char vname[CFILE_MAX_PATH];  ///< name of a virtual file
    long voffset;                ///< start of the view in the underlying file
    long vpos;                   ///< position inside the view
    long vsize;                  ///< length of the view
    /// Nonzero for a virtual file.
    char is_virtual;
    char name[CFILE_MAX_PATH];   ///< path of the underlying file; empty when closed
    long reserved;               ///< cleared on open
    /// The mode of the open stream (OM_RB for a virtual file).
    OPERATION_MODE mode;
    sys_byteorder_t byteorder;   ///< of the file's contents

    /// The C stream mode text of each OPERATION_MODE.
    static const char* m_aszOperationMode[OM_COUNT];
    /// Fills m_aszOperationMode; every constructor calls it.
    static void InitOperationModeArray();

    /// A closed file with empty names and little-endian contents.
    CFile();
    /// A closed file as above, then Open(path, m): check IsOpen().
    CFile(const char* path, OPERATION_MODE m);
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    /// Closes any open stream and opens path. 1, or 0 after logging
    /// "unable to open %s: %s" at EL_MINOR (also for an invalid mode, and for a
    /// path of CFILE_MAX_PATH characters or more: "File name too long", never
    /// opened under a cut name).
    int Open(const char* path, OPERATION_MODE m);
    /// Closes the stream; name, mode and the virtual view are cleared.
    void Close();
    /// Closes, then owns the given stream (name stays empty).
    void SetFILE(FILE* f);
    /// Makes _vfile a read-only view of [offset, offset + length) of this file
    /// (of this view, when this file is itself virtual: offsets add up). Any
    /// stream _vfile had is closed first; it gets a stream of its own and this
    /// file's byte order. A file open for writing is flushed first. On failure
    /// _vfile is left as it was. 1, or 0 for
    /// a null argument (invalid-pointer message), a stretch outside this file
    /// ("virtual file %s goes beyond %s") or a stream that cannot be opened
    /// ("unable to duplicate stream of %s for virtual file %s"; also for a closed file).
    int OpenVFile(CFile* _vfile, const char* _fname, long offset, long length);

    /// n when all n bytes were read, else 0 (0 when closed). A virtual file
    /// advances vpos by n even when the read falls outside the view; it then
    /// reads nothing and returns 0.
    virtual int Read(void* buf, int n);
    /// n when all n bytes were written, else 0 (0 when closed).
    virtual int Write(const void* buf, int n);

    /// One byte through Read; 0 when it cannot be read.
    char ReadChar();
    ///@{
    /// 2 bytes (ReadShort) or 4 (the others), in the file's byte order; a float
    /// is IEEE single precision. On a closed file they log "::ReadShort(): file
    /// %s is not opened" (and so on) at EL_MINDEBUG.
    int16_t ReadShort();
    int32_t ReadInt();
    int32_t ReadLong();
    float ReadFloat();
    ///@}
    /// Reads bytes into _buf until a zero byte is stored or max characters were
    /// stored (then there is no terminator). The number of bytes read (zero byte
    /// included), or -1 on a failed read (what was read is kept and terminated)
    /// or with "::ReadString(): invalid parameters" for a null _buf or max < 1.
    int ReadString(char* _buf, int max);
    ///@{
    /// 3, 4 or 16 floats; the number of bytes read, or 0 (a null destination logs
    /// the invalid-pointer message).
    int ReadVector3(float* _v3);
    int ReadVector4(float* _v4);
    int ReadMatrix(float* _m);
    ///@}

    ///@{
    /// The mirror images: the result of Write (0 when closed).
    int WriteChar(char v);
    int WriteShort(int16_t v);
    int WriteInt(int32_t v);
    int WriteLong(int32_t v);
    int WriteFloat(float v);
    ///@}
    ///@{
    /// The number of bytes written, or 0.
    int WriteVector3(const float* _v3);
    int WriteVector4(const float* _v4);
    int WriteMatrix(const float* _m);
    ///@}
    /// At most max - 1 characters of s, then a zero byte. The number of bytes
    /// written, or 0 ("::WriteString(): file is not opened or invalid parameters"
    /// for a closed file or null s).
    int WriteString(const char* s, int max);

    /// Length of the view or the stream; -1 when closed.
    long GetSize();
    /// -1 when closed.
    long GetPos();
    ///@{
    /// Absolute seek; a virtual file accepts 0..vsize only. True on success.
    bool SetPos(long p);
    bool GoToEnd();
    ///@}
    ///@{
    /// Move by |n| bytes. Without a stream Forward gives false and Rewind true.
    /// A virtual file refuses to move before its start.
    bool Forward(long n);
    bool Rewind(long n);
    ///@}
    /// True when closed, at or past the end of a view, or at the stream's end.
    bool Eof();
    ///@{
    /// The stream's error flag (false when closed).
    bool Error();
    bool IsOpen() const;
    const char* Name() const;
    void SetByteOrder(sys_byteorder_t order);
    ///@}

    /// Copies other from its position to the end onto this file's position, in
    /// pieces of at most 4096 bytes. 1, or 0 at the first failed read or write.
    /// Never throws, whatever the files are.
    int Append(CFile& other);

private:
    bool swapped() const;
    ///@{
    /// Reads n (at most 4) bytes in the file's order into out; false when short.
    bool read_ordered(void* out, int n);
    bool writable() const;
    template <typename T> T read_value(const char* what);
    template <typename T> int write_value(T v);
    int read_floats(float* v, int n);
    int write_floats(const float* v, int n);
    bool seek_view(long p);
    ///@}
};

/// A CFile whose every short read or write throws the int -1, so a reader can
/// parse a whole structure and catch once around it. Nothing else throws.
class VANTREL_API CFileE : public CFile {
public:
    /// CFile's constructors; CFileE(path, m) does not throw when the file does
    /// not open: check IsOpen().
    using CFile::CFile;
    int Read(void* buf, int n) override;
    int Write(const void* buf, int n) override;
};

// ---- named byte buffers ----------------------------------------------------------

/// A named block of bytes held in the same allocation as its header. Made only
/// by alloc_buffer; release with delete.
class VANTREL_API buffer_t : public groupable_t {
public:
    /// Bytes at data().
    int size;

    ///@{
    /// The size bytes, right after the header in the same allocation.
    unsigned char* data() { return reinterpret_cast<unsigned char*>(this + 1); }
    const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(this + 1); }
    ///@}

    /// 0 when names, parents, sizes ("unequal sizes") and bytes ("unequal
    /// memory") agree; -1 otherwise, also for null ("invalid parameters").
    int compare(buffer_t* b);
    /// The name line, "%ssize=%d\\n", then a hexadecimal dump of the bytes in
    /// 79-character lines. A null prefix writes "(invalid buffer)\\n".
    void dump(FILE* f, const char* tabs) override;

    /// Frees the single allocation made by alloc_buffer (header and bytes).
    static void operator delete(void* p) noexcept;

private:
    buffer_t() : size(0) {}
    friend VANTREL_API buffer_t* alloc_buffer(int n);
};

/// One allocation of the header and n zeroed bytes (plus three spare ones);
/// null for negative n or when the allocation fails. The caller owns it.
VANTREL_API buffer_t* alloc_buffer(int n);
/// Dumps every buffer of the list; a null list or prefix writes "(invalid buffer_l)\\n".
VANTREL_API void dump_buffer_l(FILE* f, d_list* l, const char* tabs);

}  // namespace vantrel
/// @}
