/// @file
/// Reflective variables: named, typed values (r_var) and lists of them found by
/// name (r_struct). Configuration files, scripts, script-callable functions and
/// network messages read and write the fields of live engine objects through them.
/// @ingroup kdbase
#pragma once
/// @addtogroup kdbase
/// @{

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "kdbase/d_list.h"
#include "kdbase/str_const.h"
#include "kdbase/unknown.h"

namespace vantrel {

/// The type of a variable's elements. The integer family (r_char, r_uchar8,
/// r_ushort16, r_uint32) may also be read and written as r_int. r_void_p and
/// r_uchar8_p .. r_var_p hold an address that packing never follows (4 reserved
/// bytes in buffers); r_struct_p packs the structure it points to.
/// get_typestr gives each type's name.
enum r_type : int {
    r_undefined = 0,
    r_char = 1,       ///< signed char, stored sign-extended in a 4-byte word
    r_uchar8 = 2,
    r_ushort16 = 3,
    r_int = 4,
    r_uint32 = 5,
    r_float = 6,      ///< the float's 32 bits
    r_char_p = 7,     ///< text owned elsewhere
    r_string = 8,     ///< text owned by the variable
    r_void_p = 9,
    r_struct_p = 10,
    r_uchar8_p = 11,
    r_ushort16_p = 12,
    r_int_p = 13,
    r_uint32_p = 14,
    r_float_p = 15,   ///< also vectors and matrices
    r_var_p = 16,
};

class r_struct;
class CFileE;

/// Bytes one element of type t takes in a variable's storage: 4 for r_char to
/// r_float (so a published r_float array is a real float[n]), pointer-sized for
/// the text and pointer types, 4 for r_undefined.
VANTREL_API size_t r_type_width(r_type t);

/// A named, typed variable of count elements. The elements live behind a
/// storage pointer: an inline one-element slot by default, a block of its own
/// for arrays made by create_r_var, or an engine object's own array (set_storage).
/// Failures are logged and reported as -1, 0 or null; nothing throws.
class VANTREL_API r_var : public unknown {
public:
    const char* name;    ///< not owned unless owns_name; "__noname" after init()
    /// Type of every element; r_undefined until the first typed write.
    r_type type;
    unsigned int count;  ///< elements, at least 1
    bool owns_name;      ///< the name is a heap copy (delete[]) released with the variable

    ///@{
    /// A one-element variable named by the pointer (not copied; a null name
    /// keeps "__noname") in the inline slot: r_undefined, of type t, or holding
    /// v in element 0 with the type set(0, v) gives it. A failed set is logged
    /// and leaves the variable r_undefined.
    r_var();
    explicit r_var(const char* _name);
    r_var(const char* _name, r_type t);
    r_var(const char* _name, char v);
    r_var(const char* _name, unsigned char v);
    r_var(const char* _name, unsigned short v);
    r_var(const char* _name, int v);
    r_var(const char* _name, unsigned int v);
    r_var(const char* _name, float v);
    r_var(const char* _name, const char* v);  ///< an r_string with a private copy
    r_var(const char* _name, void* v);
    r_var(const char* _name, r_struct* v);
    r_var(const char* _name, unsigned char* v);
    r_var(const char* _name, unsigned short* v);
    r_var(const char* _name, int* v);
    r_var(const char* _name, unsigned int* v);
    r_var(const char* _name, float* v);
    r_var(const char* _name, r_var* v);
    ///@}
    ///@{
    /// Releases the owned strings of an r_string, an owned name and an owned block.
    ~r_var() override;
    r_var(const r_var&) = delete;
    r_var& operator=(const r_var&) = delete;
    ///@}

    /// Name "__noname", type r_undefined, count 1, element 0 cleared; releases
    /// what the variable owned (strings, name). Keeps the storage. Returns 0.
    int init() override;

    /// Points the elements at p (bytes long, not owned): an engine object
    /// publishes its own array this way. Releases an owned block and the strings
    /// of an r_string. Null p returns to the inline slot.
    void set_storage(void* p, size_t bytes);
    /// Bytes available at the storage.
    size_t capacity() const { return storage_bytes; }

    ///@{
    /// Typed writes of element i (0 or -1). The type written follows the
    /// argument; an r_undefined variable takes it; an integer-family variable
    /// (r_char, r_uchar8, r_ushort16, r_uint32) also accepts int, stored whole.
    int set(int i, char v);
    int set(int i, unsigned char v);
    int set(int i, unsigned short v);
    int set(int i, int v);
    int set(int i, unsigned int v);
    int set(int i, float v);
    ///@}
    /// Text: r_char_p stores the pointer; r_string (or r_undefined, which becomes
    /// r_string) stores a private copy (null stores null) and frees the old one.
    int set(int i, const char* s);
    /// Text from a script or a message into an r_char_p element: the element
    /// points at a private copy that the variable keeps until the element is
    /// set again, its type changes or the variable goes (so an engine field
    /// published as r_char_p never points at a statement's temporary). 0, or -1
    /// (logged) for a range error, another type or a failed copy, with the
    /// element unchanged.
    int keep(int i, const char* s);
    ///@{
    /// Whether element i of an r_char_p points at a text kept by keep().
    bool keeps_text(int i) const;
    int set(int i, void* v);
    int set(int i, r_struct* v);
    int set(int i, unsigned char* v);
    int set(int i, unsigned short* v);
    int set(int i, int* v);
    int set(int i, unsigned int* v);
    int set(int i, float* v);
    int set(int i, r_var* v);
    ///@}
    /// set(0, v): element 0, with the rules of the typed set above.
    template <class T>
    int set(T v)
    {
        return set(0, v);
    }

    ///@{
    /// Typed reads of element i; a failed read (range, type) logs and gives 0.
    /// value and i_value also read the integer family.
    char c_value(int i = 0);
    unsigned char uc_value(int i = 0);
    unsigned short us_value(int i = 0);
    int i_value(int i = 0);
    int value(int i = 0);
    unsigned int ui_value(int i = 0);
    float f_value(int i = 0);
    char* str_value(int i = 0);  ///< r_char_p or r_string
    void* vp_value(int i = 0);
    r_struct* rsp_value(int i = 0);
    unsigned char* ucp_value(int i = 0);
    unsigned short* usp_value(int i = 0);
    int* ip_value(int i = 0);
    unsigned int* uip_value(int i = 0);
    float* fp_value(int i = 0);
    r_var* rvp_value(int i = 0);
    ///@}

    /// Address of element i (not checked). Element 0 of a published array is
    /// the object's own array.
    void* operator[](int i);
    /// The raw word of element i, zero-extended (0 beyond count).
    uintptr_t word(int i) const;

    /// Payload bytes (4 per pointer element, length + 1 per non-null text, the
    /// sizes of non-null structures); r_undefined logs and gives -1.
    int size();
    /// Takes src's name pointer, type and elements (private copies of texts
    /// into an r_string). 0; -1 when the counts differ or the storage has no
    /// room for src's type (nothing changed). Null src: 0, no change.
    int copy(r_var* src);
    ///@{
    /// Copies element j of src into element i (see the type rules); 0 or -1.
    /// A text src owns (r_string, or kept by keep()) is copied, never shared:
    /// into an r_char_p element with keep(), into others with set(). The
    /// one-argument form copies element 0 into element 0.
    int assign(r_var* src) { return assign(0, src, 0); }
    int assign(int i, r_var* src, int j);
    ///@}

    ///@{
    /// Equal names (1024 characters), types, counts and elements; texts by content.
    bool operator==(r_var& v);
    bool operator!=(r_var& v) { return !(*this == v); }
    ///@}

private:
    friend VANTREL_API r_var* create_r_var(const char* name, int n);

    void* storage;
    size_t storage_bytes;
    bool owns_storage;
    uintptr_t slot;
    char** kept;  ///< kept_count texts of keep(), or null
    unsigned int kept_count;

    void put_word(int i, uintptr_t w);
    void release_strings();
    void release_kept();
    void drop_kept(int i, uintptr_t unless);
    bool range_ok(int i, const char* what);
    int write_word(int i, r_type t, uintptr_t w);
    bool read_word(int i, r_type t, uintptr_t* w);
};

/// A list of variables with unique names. An owning structure (the default)
/// deletes its variables when emptied or destroyed; a non-owning one (the
/// shared scope, a script object's members) only refers to them.
class VANTREL_API r_struct {
public:
    d_list list;  ///< of r_var*

    /// An empty structure; an owning one deletes the variables it lists.
    explicit r_struct(bool owning = true);
    r_struct(const r_struct&) = delete;
    r_struct& operator=(const r_struct&) = delete;

    /// Whether the structure deletes its variables.
    bool owning() const { return list.delete_elements != 0; }

    ///@{
    /// A new one-element variable named by the pointer (not copied). 0, or -1
    /// when the name is taken, the variable cannot be made or listed.
    int add(const char* name, char v);
    int add(const char* name, unsigned char v);
    int add(const char* name, unsigned short v);
    int add(const char* name, int v);
    int add(const char* name, unsigned int v);
    int add(const char* name, float v);
    int add(const char* name, const char* v);
    int add(const char* name, void* v);
    int add(const char* name, r_struct* v);
    ///@}
    /// Lists an existing variable (owned afterwards by an owning structure).
    /// 0, or -1 for null, a taken name or a failed insert (then not owned).
    int add(r_var* v);
    /// By name (1024 characters); null when missing or name is null.
    r_var* get_var(const char* name);
    /// As get_var, but a missing name is fatal (logged, then the process ends).
    r_var* operator[](const char* name);
    /// Sum of the variables' sizes.
    int size();
    /// Empties this structure, then appends a copy of each of src's variables
    /// (same name pointer). 0; -1 on the first failure (copies so far stay) or
    /// when this structure does not own its variables. Null src or src == this: 0.
    int copy(r_struct* src);
    /// Removes every variable (deleting them when owning).
    void empty();

    /// Packing: the values only (no names, types or counts), variable after
    /// variable in list order, each element by its type: r_char and r_uchar8 one
    /// byte; r_ushort16 two and r_int, r_uint32, r_float four bytes, big-endian in
    /// buffers and in the file's byte order in files; texts with their zero byte
    /// (cut to 2048 characters, in the variable's string when packing and in the
    /// input buffer when unpacking); r_struct_p the structure it points to; the
    /// other pointer types 4 reserved bytes in buffers, nothing in files. All
    /// return the bytes handled (the sizes of the variables done); compare with
    /// size() to detect a short pack. Nothing is rolled back on failure.
    ///
    /// Writes into buffer, at most capacity bytes. Stops at a variable that does
    /// not fit ("pack(): _tobuf (size=%d 0x%08x) is too small"), a null text or
    /// structure, or an undefined variable. Null buffer: logged, 0.
    int pack(char* buffer, int capacity);
    /// Sets the variables from the first length bytes of buffer; never reads
    /// beyond them. A variable whose region is incomplete is not stored and ends
    /// the walk ("unpack(): read %d bytes from buffer of size %d"), its size
    /// counted. An r_char_p element's text is copied into the buffer it points
    /// to, which must hold 2049 characters. Null buffer: logged, 0.
    int unpack(char* buffer, int length);
    ///@{
    /// The same at the file's position; a short write or read throws the int -1
    /// (CFileE), which callers catch around the whole structure.
    int pack(CFileE* f);
    int unpack(CFileE* f);
    ///@}

private:
    template <class T>
    int add_var(const char* name, T v);
};

/// The type names and values, r_undefined .. r_var_p, then {"", -1}.
VANTREL_API const str_const_t* r_struct_get_const();
/// The pointer type of a value type (r_int -> r_int_p ...); others unchanged.
/// Null logs "get_value_pointer_type(): invalid parameters" and gives 0.
VANTREL_API r_type get_value_pointer_type(r_var* v);
/// An r_undefined variable of n elements with its own zeroed block; the name
/// pointer is kept (not copied). Null on failure (logged).
VANTREL_API r_var* create_r_var(const char* name, int n);
/// A one-element r_undefined variable owning a copy of name. Null on failure.
VANTREL_API r_var* alloc_r_var(const char* name);
/// Deletes v; its owned name is freed only when free_name is set (otherwise
/// the name is left to whoever else refers to it). Null does nothing.
VANTREL_API void delete_r_var(r_var* v, bool free_name);
/// delete_r_var on every variable of l, then removes all nodes.
VANTREL_API void delete_r_var_l(d_list* l, bool free_names);
/// First variable of the null-terminated array with that name, or null.
VANTREL_API r_var* get_var_from_array(r_var** a, const char* name);
/// r_float, r_int or r_string by the characters of text; null -> r_undefined.
VANTREL_API r_type get_valstr_type(const char* text);
/// Sets element 0 from text by get_valstr_type; the result of that set, or -1.
VANTREL_API int set_r_var_value(r_var* v, const char* text);
/// Copies the type's name ("not a type" for unknown values) into buf; returns buf.
VANTREL_API char* get_typestr(char* buf, r_type t);
///@{
/// Printers (see dump_rs for the list itself).
VANTREL_API void print_r_var(r_var* _v, FILE* f);
VANTREL_API void print_r_struct(r_struct* _s, FILE* f);
VANTREL_API void dump_rs(r_struct* _s);
///@}

}  // namespace vantrel
/// @}
