#pragma once
// A fixed-size binary block assembled field by field: little-endian numbers, IEEE 754 floating
// point and NUL-padded text fields at given offsets. Used for the header blocks of the MDF files.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

namespace tessmar {

class BlockBuffer {
 public:
  explicit BlockBuffer(std::size_t size) : bytes_(size, 0) {}

  std::size_t size() const { return bytes_.size(); }
  std::span<const std::uint8_t> bytes() const { return bytes_; }
  const std::uint8_t* data() const { return bytes_.data(); }

  void U16(std::size_t offset, std::uint16_t v) { PutLe(offset, v, 2); }
  void U32(std::size_t offset, std::uint32_t v) { PutLe(offset, v, 4); }
  void I32(std::size_t offset, std::int32_t v) { PutLe(offset, static_cast<std::uint32_t>(v), 4); }
  void F64(std::size_t offset, double v) { PutLe(offset, std::bit_cast<std::uint64_t>(v), 8); }
  void F32(std::size_t offset, float v) { PutLe(offset, std::bit_cast<std::uint32_t>(v), 4); }

  // A text field of width bytes: at most width - 1 characters, the rest zero.
  void Text(std::size_t offset, std::size_t width, std::string_view text) {
    if (width == 0 || offset + width > bytes_.size()) return;
    std::size_t n = text.size() < width - 1 ? text.size() : width - 1;
    std::memset(bytes_.data() + offset, 0, width);
    std::memcpy(bytes_.data() + offset, text.data(), n);
  }
  // A text field filled to its full width without a terminating zero (shorter texts are padded
  // with zeros).
  void FullText(std::size_t offset, std::size_t width, std::string_view text) {
    if (offset + width > bytes_.size()) return;
    std::size_t n = text.size() < width ? text.size() : width;
    std::memset(bytes_.data() + offset, 0, width);
    std::memcpy(bytes_.data() + offset, text.data(), n);
  }

 private:
  void PutLe(std::size_t offset, std::uint64_t v, int n) {
    if (offset + static_cast<std::size_t>(n) > bytes_.size()) return;
    for (int i = 0; i < n; ++i)
      bytes_[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  }

  std::vector<std::uint8_t> bytes_;
};

// Little-endian stores into a record being assembled (no bounds check: callers size records).
inline void StoreLe32(std::uint8_t* p, std::uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &v, 4);  // one store; the compiler does not always merge the four below
    return;
  }
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void StoreLe64(std::uint8_t* p, std::uint64_t v) {
  StoreLe32(p, static_cast<std::uint32_t>(v));
  StoreLe32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
inline void StoreF32(std::uint8_t* p, float v) { StoreLe32(p, std::bit_cast<std::uint32_t>(v)); }
inline void StoreF64(std::uint8_t* p, double v) { StoreLe64(p, std::bit_cast<std::uint64_t>(v)); }

}  // namespace tessmar
