#include "app/ownversion.h"

// The executable's own resource (tavelin.rc) carries the version here.
void RegisterOwnVersion() {}
