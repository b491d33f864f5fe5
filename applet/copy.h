// Memory copies without a C library.
#ifndef APPLET_COPY_H
#define APPLET_COPY_H

#include <stdint.h>

// Word by word when both ends are word-aligned, else byte by byte: flash and
// SRAM take aligned word loads only.
void copy_bytes(uint8_t *to, const uint8_t *from, uint32_t count);

#endif
