#include "convert/host.h"

namespace tp::convert {

PreviewFlags& previewFlags() {
    static PreviewFlags flags;
    return flags;
}

}  // namespace tp::convert
