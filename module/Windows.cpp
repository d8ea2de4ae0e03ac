#include "ModuleState.h"

namespace zq::module {

// Each window folder adds its factory here as its window is built; kinds without one open
// a bare document window.
void installFactories() {}

} // namespace zq::module
