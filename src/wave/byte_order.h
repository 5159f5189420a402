// Little-endian integers in wave headers and sample data. Every multi-byte number in a wave
// file is stored low byte first, whatever the byte order of the machine.
#pragma once

#include <cstdint>

namespace tapeloom {

// 2 bytes to an unsigned value: byte0 + 256 × byte1.
constexpr std::uint16_t Assem2(const unsigned char* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

// 4 bytes to an unsigned value.
constexpr std::uint32_t Assem4(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

constexpr void Decon2(std::uint16_t value, unsigned char* bytes) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
}

// The low 24 bits, low byte first. For a signed sample passed as its two's-complement
// std::uint32_t this is the packed 24-bit sample.
constexpr void Decon3(std::uint32_t value, unsigned char* bytes) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
  bytes[2] = static_cast<unsigned char>(value >> 16);
}

// Exact for every 32-bit size; a negative int passed in is written as its two's complement.
constexpr void Decon4(std::uint32_t value, unsigned char* bytes) {
  bytes[0] = static_cast<unsigned char>(value);
  bytes[1] = static_cast<unsigned char>(value >> 8);
  bytes[2] = static_cast<unsigned char>(value >> 16);
  bytes[3] = static_cast<unsigned char>(value >> 24);
}

}  // namespace tapeloom
