// The character code tables of the Access text sort orders (generated data in
// index_codes.cpp, written by scripts/make_index_codes.py; the form is
// described there). index_keys.cpp turns them into tables on first use.
#pragma once

namespace tp::db::jet::index_codes {

extern const char kGeneralLegacyCodes[];
extern const char kGeneral2010Codes[];
extern const char kGeneral97Codes[];
extern const char kGeneral97Map[];  // General 97: characters above U+00FF that key as Latin-1

}  // namespace tp::db::jet::index_codes
