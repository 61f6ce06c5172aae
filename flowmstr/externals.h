// SPDX-License-Identifier: MIT
// The program's view of the capture library: its public C interface.
#ifndef EXTERNALS_H
#define EXTERNALS_H

#include "libfms.h"

#endif // EXTERNALS_H
