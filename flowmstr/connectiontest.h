// SPDX-License-Identifier: MIT
// The connection test's explanations of a failure.
#ifndef CONNECTIONTEST_H
#define CONNECTIONTEST_H

#include <QString>

extern const QString TestImpossibleText;  // while a PPP link is up
extern const QString TestFailedText;

// How many interfaces are PPP links (a name beginning with "ppp" in any
// case): while one is up, the test cannot succeed.
int pppLinksUp(int verbose);

#endif // CONNECTIONTEST_H
