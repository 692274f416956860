#include "app/qt/Resources.h"

#include <QtGlobal>

#include <mutex>

void EnsureResources() {
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(tervix); });
}
