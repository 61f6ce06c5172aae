// SPDX-License-Identifier: MIT
// SIGTERM and SIGHUP (logout, shutdown, a closed terminal) handled on the
// GUI thread instead of ending the process on the spot.
#ifndef QUITSIGNALS_H
#define QUITSIGNALS_H

#include <functional>

class QObject;

// From now on each SIGTERM or SIGHUP calls `handler` from the event loop,
// for as long as `context` lives.
void onQuitSignals(QObject *context, std::function<void()> handler);

#endif // QUITSIGNALS_H
