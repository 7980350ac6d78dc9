// The fuzz targets share one libFuzzer binary; VISTREL_FUZZ_TARGET names the one a run exercises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Each target takes the input bytes and returns 0; a broken promise aborts (Require).
int Variant(const std::uint8_t* data, std::size_t size);
int TimeText(const std::uint8_t* data, std::size_t size);
int Format(const std::uint8_t* data, std::size_t size);
int ClassStore(const std::uint8_t* data, std::size_t size);
int ItemsFile(const std::uint8_t* data, std::size_t size);
int RelTime(const std::uint8_t* data, std::size_t size);
int Browse(const std::uint8_t* data, std::size_t size);

// The bytes as UTF-16 code units, little-endian (an odd last byte is dropped): NULs and unpaired
// surrogates included, as a hostile peer would send them.
std::u16string Utf16Of(const std::uint8_t* data, std::size_t size);

// Aborts with the message when the condition is false, so that libFuzzer keeps the input.
void Require(bool condition, const char* what);

}  // namespace fuzz
