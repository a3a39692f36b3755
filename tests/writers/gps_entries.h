#pragma once
// GPS entries of a recording, assembled byte by byte as the logger writes them.

#include <array>
#include <cstdint>

namespace tessmar::test {

// GPS entry 1 for 12:34:56.78 on 2017-10-19 (packed date 0x2353), quality 1, 8 satellites
// (flags 0x48), HDOP 1.2, 100 km/h; other times, dates and speeds on request.
inline std::array<std::uint8_t, 16> Entry1(std::uint8_t flags = 0x48, std::uint16_t date = 0x2353,
                                           std::uint32_t tod = 4529678, std::int16_t speed = 1000,
                                           std::uint8_t hdop = 12) {
  return {0xA1,
          flags,
          hdop,
          0,
          0,
          0,
          0,
          0,
          static_cast<std::uint8_t>(tod),
          static_cast<std::uint8_t>(tod >> 8),
          static_cast<std::uint8_t>(tod >> 16),
          static_cast<std::uint8_t>(tod >> 24),
          static_cast<std::uint8_t>(date),
          static_cast<std::uint8_t>(date >> 8),
          static_cast<std::uint8_t>(speed),
          static_cast<std::uint8_t>(speed >> 8)};
}

// GPS entry 2: latitude and longitude in hundredths of an arc second, height in 0.1 m.
inline std::array<std::uint8_t, 16> Entry2(std::int32_t lat, std::int32_t lon,
                                           std::int16_t height) {
  auto u = [](std::int32_t v, int shift) {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> shift);
  };
  return {0xA2,       0,         u(height, 0), u(height, 8), u(lat, 0),  u(lat, 8), u(lat, 16),
          u(lat, 24), u(lon, 0), u(lon, 8),    u(lon, 16),   u(lon, 24), 0,         0,
          0,          0};
}

}  // namespace tessmar::test
