// The target's program memory, as the reader fills it and the upload encoder reads it.
#pragma once

#include <array>
#include <cstdint>

namespace ferrolet {

// Program memory of the ATmega168.
inline constexpr std::int32_t IMAGE_SIZE = 16384;

// One byte per program memory address; bytes that no record supplies stay 0x00.
using FirmwareImage = std::array<std::uint8_t, IMAGE_SIZE>;

}  // namespace ferrolet
