#include "app/cli_report.h"

#include "app/cli_output.h"

namespace tp::cli {
namespace {

void writeTexts(std::ostream& out, const char* name, const std::vector<std::string>& texts) {
    out << ",\n  \"" << name << "\": [";
    for (size_t i = 0; i < texts.size(); ++i) out << (i ? ", " : "") << jsonString(texts[i]);
    out << "]";
}

}  // namespace

void writeRunReport(std::ostream& out, const RunSelection& selection, const convert::RunSummary& s, int exitStatus,
                    const std::string& stopped) {
    out << "{\n  \"source\": " << jsonString(selection.source.path)
        << ",\n  \"sourceKind\": " << (selection.source.dbc ? "\"dbc\"" : "\"folder\"")
        << ",\n  \"target\": " << jsonString(selection.target.path) << ",\n  \"exitStatus\": " << exitStatus;
    if (!stopped.empty()) out << ",\n  \"stopped\": " << jsonString(stopped);
    out << ",\n  \"totals\": {\"tables\": " << s.tables << ", \"rows\": " << s.rows
        << ", \"statements\": " << s.statements << ", \"failedStatements\": " << s.failedStatements
        << ", \"valuesNotRead\": " << s.lostValues << ", \"tablesConverted\": " << s.tablesConverted
        << ", \"tablesSkipped\": " << s.tablesSkipped << ", \"tablesNotConverted\": " << s.tablesNotConverted
        << ", \"propertiesCarried\": " << s.propertiesCarried << "}";
    out << ",\n  \"tables\": [";
    for (size_t i = 0; i < s.tableResults.size(); ++i) {
        const convert::TableResult& t = s.tableResults[i];
        out << (i ? ",\n    " : "\n    ") << "{\"name\": " << jsonString(t.name) << ", \"rows\": " << t.rows
            << ", \"failedStatements\": " << t.failedStatements << ", \"outcome\": " << jsonString(t.outcome) << "}";
    }
    out << (s.tableResults.empty() ? "]" : "\n  ]");
    out << ",\n  \"failedStatements\": [";
    for (size_t i = 0; i < s.failed.size(); ++i) {
        const convert::FailedStatement& f = s.failed[i];
        out << (i ? ",\n    " : "\n    ") << "{\"table\": " << jsonString(f.table)
            << ", \"kind\": " << jsonString(f.kind) << ", \"error\": " << jsonString(f.error) << "}";
    }
    out << (s.failed.empty() ? "]" : "\n  ]");
    writeTexts(out, "carried", s.keysCreated);
    writeTexts(out, "leftOut", s.keysLeftOut);
    writeTexts(out, "notEnforced", s.relationsUnenforced);
    writeTexts(out, "fieldNotes", s.fieldNotes);
    writeTexts(out, "codePages", s.codePages);
    out << "\n}\n";
}

}  // namespace tp::cli
