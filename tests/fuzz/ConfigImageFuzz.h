#pragma once

#include <cstddef>
#include <cstdint>

// One fuzz input through backup image validation and the restore conversions. The input is
// byte 0 (bit 0: V2 image, bit 1: keep macro records, bit 2: cut the image), a u24 image size
// used when cutting, then patches of {u24 offset, u8 length, bytes} laid over a valid image.
// Aborts when a built image breaks the block rules; returns whether the image was accepted.
namespace ConfigImageFuzz {

bool run(const uint8_t *data, size_t size);

} // namespace ConfigImageFuzz
