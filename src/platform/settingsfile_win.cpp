#include "platform/settingsfile.h"

namespace Tavrix {

// The store is the current user's registry hive, which other users cannot read already.
void restrictSettingsFile(const QString &)
{
}

} // namespace Tavrix
