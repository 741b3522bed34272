// `tallyport convert --report FILE`: the run's summary as one JSON object,
// for scripts that check what a conversion did.
#pragma once

#include <ostream>

#include "convert/run.h"
#include "convert/selection.h"

namespace tp::cli {

// {"source":..., "target":..., "exitStatus":N, "stopped":"..." (when the run
//  could not start or was ended early), "totals":{"tables","rows",
//  "statements","failedStatements","valuesNotRead"}, "tables":[{"name",
//  "rows","failedStatements","outcome"}...], "failedStatements":[{"table",
//  "kind","error"}...], "carried":[...], "leftOut":[...], "codePages":[...]}
void writeRunReport(std::ostream& out, const RunSelection& selection, const convert::RunSummary& summary,
                    int exitStatus, const std::string& stopped);

}  // namespace tp::cli
