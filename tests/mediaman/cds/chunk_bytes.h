// Container bytes as the format lays them out, for the container tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include "kdbase/mem_collector.h"
#include "mediaman/cds/cds.h"
#include "tests/common/log_fixture.h"

namespace chunk_bytes {

inline std::string le32(int32_t v)
{
    return std::string{(char)v, (char)(v >> 8), (char)(v >> 16), (char)(v >> 24)};
}

inline std::string floats(std::initializer_list<float> l)
{
    std::string s;
    for (float f : l) {
        int32_t v;
        memcpy(&v, &f, 4);
        s += le32(v);
    }
    return s;
}

// A chunk header declaring size payload bytes.
inline std::string hdr(const char* type, int32_t size, const std::string& id)
{
    return std::string(type, 4) + le32(size) + id + '\0';
}

inline std::string chunk(const char* type, const std::string& id, const std::string& payload)
{
    return hdr(type, (int32_t)payload.size(), id) + payload;
}

// A container of the media types owning what is put in it.
struct writer : vantrel::cds {
    writer() { init(), delete_type_objects(); }
    writer& add(const char* kind, vantrel::groupable_t* o)
    {
        vantrel::get_chunk_io(types, kind)->objects.insert(o);
        return *this;
    }
    writer& text(const char* s, const char* name = "")
    {
        vantrel::buffer_t* b = vantrel::alloc_buffer((int)strlen(s));
        memcpy(b->data(), s, strlen(s));
        b->set_name(name);
        return add("TEXT", b);
    }
};

// The chunk type tests: containers of the media types owning what they read.
class chunk_types_test : public vantrel_test::log_test {
protected:
    static vantrel::chunk_io* io(vantrel::cds& c, const char* type) { return vantrel::get_chunk_io(c.types, type); }
    static int count(vantrel::cds& c, const char* type) { return io(c, type)->objects.count; }

    // Reads name, or the bytes given as a file of that name.
    void open(vantrel::cds& c, const std::string& name, const std::string& bytes = "")
    {
        if (!bytes.empty())
            write_file(name, bytes);
        ASSERT_EQ(c.init(), 0);
        ASSERT_EQ(c.open(path(name).c_str()), 0);
        c.delete_type_objects();
    }
    // Reads the first len bytes of whole as a container of their own.
    static void open_cut(vantrel::cds& c, vantrel::CFileE& whole, size_t len)
    {
        ASSERT_EQ(c.init(), 0);
        c.delete_type_objects();
        ASSERT_TRUE(whole.OpenVFile(&c, "cut", 0, (long)len));
    }
    // Reads name failing each allocation in turn: every failure fails the read,
    // and the first read needing no more than n allocations has all objects.
    template <class F>
    void every_failed_allocation_fails(const std::string& name, int objects, int min_allocations, F total)
    {
        for (int n = 0;; ++n) {
            vantrel::cds c;
            open(c, name);
            clear_log();
            vantrel::mc_fail_after(n);
            int r = c.read_all();
            vantrel::mc_fail_after(-1);
            if (!log_has("allocation failed")) {
                EXPECT_EQ(r, 0);
                EXPECT_EQ(total(c), objects);
                EXPECT_GT(n, min_allocations);
                return;
            }
            EXPECT_EQ(r, -1) << "allocation " << n;
        }
    }
};

}  // namespace chunk_bytes
