#include "copy.h"

typedef uint32_t __attribute__((may_alias)) word;

void copy_bytes(uint8_t *to, const uint8_t *from, uint32_t count) {
    if ((((uintptr_t)to | (uintptr_t)from) & 3u) == 0) {
        for (; count >= 4; count -= 4, to += 4, from += 4)
            *(word *)to = *(const word *)from;
    }
    for (; count; --count) *to++ = *from++;
}
