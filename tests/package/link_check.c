/* A host built from an installed package alone: it includes only the installed header and
 * links the installed driver, then checks what the driver says of itself.
 *   link_check EXPECTED_VERSION      e.g. link_check 1.0.0 */
#include <stdio.h>
#include <string.h>

#include "zelk2716e.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s EXPECTED_VERSION\n", argv[0]);
        return 2;
    }
    int failed = 0;
    if (Version() != 0x30000) {
        fprintf(stderr, "Version() = 0x%x, expected 0x30000\n", (unsigned)Version());
        failed = 1;
    }
    /* The driver text in cp1250: "Ovlada\xe8" is "Ovladač". */
    char expected[64];
    snprintf(expected, sizeof expected, "Ovlada\xe8 ZELK-2716E v.%s", argv[1]);
    char text[256];
    memset(text, 'x', sizeof text);
    GetDriverInfo((int32_t)sizeof text, text);
    if (memchr(text, 0, sizeof text) == NULL || strcmp(text, expected) != 0) {
        fprintf(stderr, "GetDriverInfo gave an unexpected text\n");
        failed = 1;
    }
    void* instance = MakeDriver();
    if (instance == NULL) {
        fprintf(stderr, "MakeDriver() returned no instance\n");
        failed = 1;
    } else {
        DisposeDriver(instance);
    }
    puts(failed ? "link check failed" : "link check passed");
    return failed;
}
