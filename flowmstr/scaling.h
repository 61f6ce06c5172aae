// SPDX-License-Identifier: MIT
// Qt's own scale factor for the whole program.  The windows are laid out in
// pixels and shown unscaled unless the setting `scale` asks for more.
#ifndef SCALING_H
#define SCALING_H

class QString;

// Before the application object exists: takes `scale` (1 to 4; anything
// else counts as 1) from the settings file as Qt's scale factor and turns
// the screens' own factors off, unless the user has set one of Qt's scaling
// variables: then those decide, and `scale` is not used.
void prepareScaling(const QString &settingsFile);

#endif // SCALING_H
