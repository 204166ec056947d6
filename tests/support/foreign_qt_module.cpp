// A Qt module of another release, as far as the loader can tell: it tells another interface
// version, and would bring the process down if anything else of it were called.

#include <cstdlib>

#include "ui/qt_front_end.h"

extern "C" __attribute__((visibility("default"))) int VelmoraUiModuleInterfaceVersion() {
    return kQtModuleInterfaceVersion + 1;
}

extern "C" __attribute__((visibility("default"))) UserInterface* velmora_create_qt_user_interface(
    bool) {
    std::abort();
}

extern "C" __attribute__((visibility("default"))) void velmora_destroy_qt_user_interface(
    UserInterface*) {
    std::abort();
}
