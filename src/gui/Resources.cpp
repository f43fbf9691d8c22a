#include "gui/Resources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace
static void registerKestruneResources()
{
    Q_INIT_RESOURCE(kestrune);
}

namespace kestrune {

void ensureResources()
{
    static const bool registered = (registerKestruneResources(), true);
    (void)registered;
}

} // namespace kestrune
