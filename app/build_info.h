// The commit the program was built from (made at build time).
#pragma once

namespace tp::cli {
// Abbreviated commit hash; empty when the build did not come from a git checkout.
extern const char* const kBuildCommit;
// True when the checkout had changes that were not committed.
extern const bool kBuildModified;
}  // namespace tp::cli
