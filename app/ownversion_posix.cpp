#include "app/ownversion.h"
#include "platform/platform.h"

void RegisterOwnVersion() { platform::setOwnVersionBlock(OwnVersionBlock()); }
