/* The public header must compile and link as plain C. */
#include <stddef.h>
#include <stdio.h>

#include "codec/codec.h"

int main(void) {
    JPEG_CODEC_RECORD record;
    size_t props_offset = offsetof(JPEG_CODEC_RECORD, props);
    if (props_offset < sizeof(int32_t) * 19) return 1;
    (void)record;
    (void)codec_error_text(JPEG_OK);
    printf("codec.h compiles as C; props at offset %u\n", (unsigned)props_offset);
    return 0;
}
