// Container bytes as the format lays them out, for the container tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

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

}  // namespace chunk_bytes
