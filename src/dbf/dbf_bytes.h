#pragma once

// Byte order and layout constants shared by the header, the field codecs and the table.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pasarela::dbf {

constexpr std::size_t kLevel7HeaderSize = 68;
constexpr std::size_t kLevel7DescriptorSize = 48;
constexpr std::size_t kClassicDescriptorSize = 32;
constexpr unsigned char kHeaderEnd = 0x0D;
constexpr unsigned char kFileEnd = 0x1A;

inline std::uint16_t ReadU16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t ReadU32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint32_t ReadU32BigEndian(const unsigned char* p)
{
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline std::uint64_t ReadU64BigEndian(const unsigned char* p)
{
    return (static_cast<std::uint64_t>(ReadU32BigEndian(p)) << 32) | ReadU32BigEndian(p + 4);
}
inline std::uint64_t ReadU64(const unsigned char* p)
{
    return static_cast<std::uint64_t>(ReadU32(p)) | (static_cast<std::uint64_t>(ReadU32(p + 4)) << 32);
}
inline void WriteU16(unsigned char* p, std::uint32_t v)
{
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>((v >> 8) & 0xFF);
}
inline void WriteU32(unsigned char* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}
inline void WriteU32BigEndian(unsigned char* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>((v >> (24 - 8 * i)) & 0xFF);
}
inline void WriteU64BigEndian(unsigned char* p, std::uint64_t v)
{
    WriteU32BigEndian(p, static_cast<std::uint32_t>(v >> 32));
    WriteU32BigEndian(p + 4, static_cast<std::uint32_t>(v & 0xFFFFFFFFu));
}

inline bool AllBytes(std::string_view raw, unsigned char value)
{
    return std::all_of(raw.begin(), raw.end(), [value](char c) { return static_cast<unsigned char>(c) == value; });
}

// A character field's text without the blanks (or NULs, from other programs) that fill
// it to its width.
inline std::string_view WithoutFill(std::string_view raw)
{
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\0'))
        raw.remove_suffix(1);
    return raw;
}

}  // namespace pasarela::dbf
