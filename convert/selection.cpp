#include "convert/selection.h"

namespace tp {

namespace {
Selection* g_selection = nullptr;
}

Selection& selection() {
    static PlainSelection fallback;
    return g_selection ? *g_selection : fallback;
}

void setSelection(Selection* s) { g_selection = s; }

}  // namespace tp
