// SPDX-License-Identifier: MIT
// main() of the GoogleTest tests that need a network namespace of their own.
#include "testnet.h"

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (!testnet::enterPrivateNamespace()) {
        std::fprintf(stderr, "needs root: no private network namespace\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
