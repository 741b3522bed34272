// The coding toolkit's integer helpers (db/coding/endian.h) by their own
// names inside the engine.
#pragma once

#include "db/coding/endian.h"

namespace tp::db::jet {

using coding::decodeBE16;
using coding::decodeBE24;
using coding::decodeBE32;
using coding::decodeLE16;
using coding::decodeLE24;
using coding::decodeLE32;
using coding::decodeLE64;
using coding::encodeBE24;
using coding::encodeBE32;
using coding::encodeLE16;
using coding::encodeLE24;
using coding::encodeLE32;
using coding::putBE24;
using coding::putBE32;
using coding::putBytes;
using coding::putLE16;
using coding::putLE32;

}  // namespace tp::db::jet
