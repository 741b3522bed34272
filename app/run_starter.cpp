#include "app/run_starter.h"

#include "convert/run.h"
#include "convert/source.h"
#include "convert/target.h"
#include "host/message_box.h"

namespace tp::app {

bool providerInstalled() { return tp::convert::target::providerInstalled(); }

bool canConnectToSource(const SourceChoice& source) { return tp::convert::source::canConnect(source); }

std::string codePagesNotice(const std::vector<std::string>& lines) {
    constexpr size_t kShown = 20;
    std::string text = "The text of these tables was read in a code page they do not name:\r\n";
    for (size_t i = 0; i < lines.size() && i < kShown; ++i) text += "\r\n" + lines[i];
    if (lines.size() > kShown) text += "\r\n... and " + std::to_string(lines.size() - kShown) + " more tables";
    return text +
           "\r\n\r\nTo read them in another code page, choose it under \"Code page for tables that do not "
           "name one\" in the Advanced Options window (the dbc button), and convert again.";
}

std::string keysNotice(const std::vector<std::string>& lines, bool withDefaults, bool withProperties,
                       bool rowsConverted) {
    constexpr size_t kShown = 30;
    std::string text = withProperties ? "These indexes, relations, default values and properties were not created in "
                                        "Access:\r\n"
                       : withDefaults ? "These indexes, relations and default values were not created in Access:\r\n"
                                      : "These indexes and relations were not created in Access:\r\n";
    for (size_t i = 0; i < lines.size() && i < kShown; ++i) text += "\r\n" + lines[i];
    if (lines.size() > kShown) text += "\r\n... and " + std::to_string(lines.size() - kShown) + " more";
    return text + "\r\n\r\n" + (rowsConverted ? "The rows of their tables were converted all the same. " : "") +
           (withProperties ? "Where you need one of them, set it in Access."
                           : "Where you need such an index or relation, create it in Access.");
}

std::string unenforcedNotice(const std::vector<std::string>& lines) {
    std::string text = "These relations were created in Access without enforced referential integrity:\r\n";
    for (const std::string& line : lines) text += "\r\n" + line;
    return text +
           "\r\n\r\nAccess shows them in the Relationships window but does not check them. Where you need them "
           "enforced, correct the rows and enforce them in Access.";
}

std::string fieldsNotice(const std::vector<std::string>& lines) {
    constexpr size_t kShown = 30;
    std::string text = "These fields were left out of Access, or kept in another kind of column:\r\n";
    for (size_t i = 0; i < lines.size() && i < kShown; ++i) text += "\r\n" + lines[i];
    if (lines.size() > kShown) text += "\r\n... and " + std::to_string(lines.size() - kShown) + " more";
    return text + "\r\n\r\nThe Datatypes Conversion view of the SQL preview lists every field with its Access type.";
}

std::string sourceProblem(const SourceChoice& source) { return tp::convert::source::problem(source); }

std::string targetProblem(const TargetChoice& target) { return tp::convert::target::openProblem(target); }

namespace {
class Starter : public RunStarter {
public:
    explicit Starter(convert::RunHost& host) : run_(host) {}
    // When the run ends, the code pages its tables were read in.
    void start(const RunSelection& selection) override {
        if (run_.isConverting()) {
            run_.start(selection);  // refused by the run itself
            return;
        }
        const convert::RunSummary& done = run_.start(selection);
        if (!done.codePages.empty()) msgBox(codePagesNotice(done.codePages));
        if (!done.fieldNotes.empty()) msgBox(fieldsNotice(done.fieldNotes));
        if (!done.relationsUnenforced.empty()) msgBox(unenforcedNotice(done.relationsUnenforced));
        if (done.keysLeftOut.empty()) return;
        const size_t made = done.keysCreated.size();
        const std::string carried =
            made == 0 ? std::string()
                      : std::to_string(made) + (made == 1 ? " index or relation was" : " indexes and relations were") +
                            " created in Access.\r\n\r\n";
        msgBox(carried + keysNotice(done.keysLeftOut, done.defaultsLeftOut > 0, done.propertiesLeftOut > 0,
                                    done.tablesConverted > 0));
    }

private:
    convert::ConversionRun run_;
};
}  // namespace

std::unique_ptr<RunStarter> makeRunStarter(convert::RunHost& host) { return std::make_unique<Starter>(host); }

}  // namespace tp::app
