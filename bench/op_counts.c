/* One call of a pixel operation over pxlib.h, for instruction counts under
 * `valgrind --tool=callgrind`: `op_counts OP` runs it once, `op_counts none` makes only the
 * pictures, so the operation's own count is the difference. */
#include "pxlib.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint8_t* Picture(uint32_t width, uint32_t height)
{
    uint8_t* pixels = malloc((size_t)width * height * 3);
    if (!pixels)
        exit(2);
    uint32_t seed = 12345;
    for (size_t i = 0; i < (size_t)width * height * 3; ++i) {
        seed = seed * 1103515245u + 12345u;
        /* A smooth ramp with some noise, so histograms and filters see real work. */
        pixels[i] = (uint8_t)((i / 3 % width) * 200 / width + (seed >> 28));
    }
    return pixels;
}

int main(int argc, char** argv)
{
    const char* op = argc > 1 ? argv[1] : "none";
    uint8_t* big = Picture(4000, 3000);
    uint8_t* small = Picture(640, 480);
    uint8_t* out = calloc(640 * 480 * 3, 1);
    if (!out)
        return 2;
    uint32_t ok = 1;
    if (strcmp(op, "bilinear") == 0)
        ok = ResampleBilinear(big, 4000, 3000, out, 640, 480, 3);
    else if (strcmp(op, "bicubic") == 0)
        ok = ResampleBicubic(big, 4000, 3000, out, 640, 480, 3);
    else if (strcmp(op, "sharpen") == 0)
        ok = SharpenRGB24(small, 640, 480, out, 10);
    else if (strcmp(op, "autobrightness") == 0)
        ok = AutoBrightness(big, 4000, 3000, 1, 99, 0);
    else if (strcmp(op, "entry") == 0)
        for (int i = 0; i < 100000; ++i)
            ok &= SwapRedBlue(small, 1, 1);
    else if (strcmp(op, "none") != 0) {
        fprintf(stderr, "usage: op_counts none|bilinear|bicubic|sharpen|autobrightness|entry\n");
        return 2;
    }
    /* Print a checksum so before and after can be seen to compute the same pixels. */
    uint32_t sum = 0;
    for (size_t i = 0; i < 640 * 480 * 3; ++i)
        sum = sum * 31 + out[i];
    for (size_t i = 0; i < (size_t)4000 * 3000 * 3; i += 997)
        sum = sum * 31 + big[i];
    printf("%s %u %08x\n", op, ok, sum);
    free(out);
    free(small);
    free(big);
    return ok ? 0 : 1;
}
