// The name assistive technology (AT-SPI screen readers) announces for the program: the
// product's name, not the internal application id that names the windows' class.
#pragma once

#include <QString>

// Installs, once per process, a factory that gives the application object the accessible name
// name. Window titles and box captions are left exactly as set: no display name is set, so no
// platform appends one to them. Call before the first window is shown; UI thread.
void InstallAccessibleApplicationName(const QString& name);
