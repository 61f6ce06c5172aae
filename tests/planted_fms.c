// SPDX-License-Identifier: MIT
/* A libfms.so planted in the working directory: the program must never load it. */
#include <stdio.h>
#include <stdlib.h>

__attribute__((constructor)) static void planted(void)
{
    fputs("planted libfms.so loaded\n", stderr);
    exit(99);
}
