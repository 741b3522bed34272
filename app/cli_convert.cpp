// `tallyport convert (--folder DIR | --dbc FILE) --target DB [--password PW]
//  [--overwrite ask|yes|no] [--create] [--script FILE] [--codepage N
//  [--force-codepage]] [--keys yes|no]`: the conversion run of the main window,
//  in plain mode. The indexes and relations left out are told on stderr.
// The code page of each table whose text was read in a code page it does not
// name is told on stderr. The run's message boxes become lines on
// stderr; its questions are answered by the options (or on the terminal).
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "app/cli.h"
#include "app/cli_report.h"
#include "convert/run.h"
#include "convert/selection.h"
#include "host/app_title.h"
#include "host/message_box.h"

namespace tp::cli {
namespace {

enum class Overwrite { Ask, Yes, No };

std::string lineText(const std::string& text) { return withPlainLineEnds(text); }

// A box of the run on one line: its lines joined, the window's field labels
// as the options that fill them.
std::string oneLine(const std::string& text) {
    std::string line;
    for (char c : withPlainLineEnds(text)) {
        if (c != '\n') line += c;
        else if (!line.empty() && line.back() != ' ') line += ' ';
    }
    static const std::pair<const char*, const char*> kFields[] = {
        {"\"MDB or ACCDB File:\"", "--target"},
        {"\"Password (if required):\"", "--password"},
        {"\"Folder containing DBF/s:\"", "--folder"},
        {"the \"dbc\" button", "--dbc"},
    };
    for (const auto& [label, option] : kFields)
        for (size_t at; (at = line.find(label)) != std::string::npos;) line.replace(at, std::strlen(label), option);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

class ConvertBoxes : public MessageBoxes {
public:
    ConvertBoxes(Overwrite overwrite, bool create, bool interactive)
        : overwrite_(overwrite), create_(create), interactive_(interactive) {}

    int show(const std::string& text, int style, const std::string& title) override {
        if (progressLine) std::cerr << "\n", progressLine = false;
        const std::string shownTitle = title.empty() ? appTitle() : title;
        if ((style & 0xF) != mb::YesNo) {
            std::cerr << "tallyport: " << oneLine(text) << std::endl;
            return mb::Ok;
        }
        int answer = mb::No;
        bool ask = false;
        if (title == "Overwrite?") {
            if (overwrite_ == Overwrite::Yes) answer = mb::Yes;
            ask = overwrite_ == Overwrite::Ask && interactive_;
        } else if (text.rfind("The database ", 0) == 0) {
            answer = create_ ? mb::Yes : mb::No;
        }
        if (ask) {
            std::cerr << shownTitle << ": " << lineText(text) << " [y/N] " << std::flush;
            std::string reply;
            if (!std::getline(std::cin, reply)) reply.clear();
            answer = !reply.empty() && (reply[0] == 'y' || reply[0] == 'Y') ? mb::Yes : mb::No;
        } else {
            std::cerr << shownTitle << ": " << lineText(text) << " " << (answer == mb::Yes ? "Yes" : "No") << std::endl;
        }
        return answer;
    }

    // A failed step: one line, what failed and the first line of why.
    bool tellFailure(const std::string& subject, const std::string& description) override {
        if (progressLine) std::cerr << "\n", progressLine = false;
        const std::string why = description.substr(0, description.find_first_of("\r\n"));
        std::cerr << "tallyport: " << (subject.empty() ? why : subject + " failed: " + why) << std::endl;
        return true;
    }

    bool progressLine = false;

private:
    Overwrite overwrite_;
    bool create_;
    bool interactive_;
};

// Writes the statements one per line instead of executing them.
class ScriptList : public convert::StatementList {
public:
    explicit ScriptList(std::ostream& out) : out_(out) {}
    void clear() override {}
    void append(const std::string& s) override {
        out_ << s << '\n';
        ++count_;
    }
    int count() const override { return count_; }
    std::string line(int) const override { return {}; }

private:
    std::ostream& out_;
    int count_ = 0;
};

// Ctrl-C during a run: the first asks the run to stop (the table in work is
// taken back), a second ends the program at once.
volatile std::sig_atomic_t interrupted = 0;
extern "C" void onInterrupt(int) {
    if (interrupted) std::_Exit(130);
    interrupted = 1;
    static const char kSaid[] = "\ntallyport: stopping: the table in work is taken back (Ctrl-C again ends at once)\n";
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kSaid, sizeof kSaid - 1);
}

class CliHost : public convert::RunHost {
public:
    CliHost(convert::StatementList* script, ConvertBoxes& boxes, bool progress, bool keys)
        : script_(script), boxes_(boxes), progress_(progress), keys_(keys) {}

    bool previewMode() const override { return script_ != nullptr; }
    bool previewOnceAtEnd() const override { return false; }
    bool previewPerTable() const override { return false; }
    bool createKeys() const override { return keys_; }
    void setProgressValue(double) override {}
    void setProgressText(const std::string&) override {}
    void setBusyPointer(bool) override {}
    convert::StatementList& previewList() override { return script_ ? *script_ : unused_; }
    convert::DatatypeList& datatypeList() override { return datatypes_; }
    void showPreview(convert::PreviewFlags&) override {}
    std::unique_ptr<db::Connection>& accessConnection() override { return conn_; }
    bool stopRequested() override { return interrupted != 0; }

    void tableProgress(const std::string&, int number, int count) override {
        tableNumber_ = number;
        tableCount_ = count;
    }

    // Table n of N, its rows, the rate and the time the table has left, at
    // most five times a second.
    void rowsProgress(const std::string& table, int64_t done, int64_t total) override {
        if (!progress_) return;
        const auto now = std::chrono::steady_clock::now();
        if (table != table_) {
            table_ = table;
            tableStart_ = now;
            last_ = {};
        }
        if (now - last_ < std::chrono::milliseconds(200) && done != total) return;
        last_ = now;
        const double secs = std::chrono::duration<double>(now - tableStart_).count();
        const double rate = secs > 0 ? static_cast<double>(done) / secs : 0.0;
        char line[200];
        int n = std::snprintf(line, sizeof line, "table %d of %d, %s: %lld", tableNumber_, tableCount_, table.c_str(),
                              static_cast<long long>(done));
        if (total > 0 && n > 0 && n < static_cast<int>(sizeof line))
            n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), " of %lld",
                               static_cast<long long>(total));
        if (n > 0 && n < static_cast<int>(sizeof line))
            n += std::snprintf(line + n, sizeof line - static_cast<size_t>(n), " rows, %.0f rows/s", rate);
        if (total > done && rate > 0 && n > 0 && n < static_cast<int>(sizeof line))
            std::snprintf(line + n, sizeof line - static_cast<size_t>(n), ", %.0f s left",
                          static_cast<double>(total - done) / rate);
        std::cerr << "\r" << line << "\x1b[K" << std::flush;
        boxes_.progressLine = true;
    }

    void endProgress() {
        if (boxes_.progressLine) std::cerr << "\n";
        boxes_.progressLine = false;
    }

private:
    convert::StatementList* script_;
    ConvertBoxes& boxes_;
    bool progress_;
    bool keys_;
    convert::VectorStatementList unused_;
    convert::VectorDatatypeList datatypes_;
    std::unique_ptr<db::Connection> conn_;
    std::string table_;
    int tableNumber_ = 0, tableCount_ = 0;
    std::chrono::steady_clock::time_point tableStart_{}, last_{};
};

convert::RegionalSettings environmentSettings() {
    for (const char* var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) return convert::RegionalSettings::fromLocaleName(v);
    }
    return convert::RegionalSettings::unitedStates();
}

struct ConvertOptions {
    RunSelection sel;
    bool forceCodePage = false;
    bool haveSource = false, create = false;
    std::string script;
    bool haveScript = false;
    Overwrite overwrite = Overwrite::Ask;
    bool keys = true;
    std::string report;  // --report FILE
    bool quiet = false;
};

// The value of --overwrite: 0, or the exit status of the usage error printed.
int readOverwrite(const std::string& v, Overwrite& overwrite) {
    if (v == "ask") overwrite = Overwrite::Ask;
    else if (v == "yes") overwrite = Overwrite::Yes;
    else if (v == "no") overwrite = Overwrite::No;
    else return usageError("convert: --overwrite takes ask, yes or no, not '" + v + "'");
    return 0;
}

// --keys yes|no at args[i]: 0, or the exit status of the usage error printed.
int takeKeys(const Args& args, size_t& i, bool& keys) {
    const std::string v = i + 1 < args.size() ? args[++i] : std::string();
    if (v != "yes" && v != "no") return usageError("convert: --keys takes yes or no");
    keys = v == "yes";
    return 0;
}

// --folder DIR or --dbc FILE at args[i], the one source: 0, or the exit
// status of the usage error printed.
int takeConvertSource(const Args& args, size_t& i, ConvertOptions& o) {
    const std::string& a = args[i];
    if (o.haveSource) return usageError("convert: give one source, --folder or --dbc");
    if (i + 1 >= args.size() || args[i + 1].empty()) return usageError("convert: " + a + " needs a value");
    const std::string& v = args[++i];
    o.haveSource = true;
    o.sel.source.dbc = a == "--dbc";
    o.sel.source.path = v;
    return 0;
}

// Takes the option at args[i] (and its value): 0, or the exit status of the
// usage error printed.
int takeConvertOption(const Args& args, size_t& i, ConvertOptions& o) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
        if (i + 1 >= args.size()) return false;
        out = args[++i];
        return true;
    };
    std::string v;
    if (const int taken = takeCodePageArg(args, i, o.sel.source.codePage, o.forceCodePage)) return taken > 0 ? 0 : 2;
    if (a == "--keys") return takeKeys(args, i, o.keys);
    if (a == "--types") return takeFieldTypes(args, i, o.sel.fieldTypes, "convert");
    if (a == "--folder" || a == "--dbc") {
        return takeConvertSource(args, i, o);
    } else if (a == "--target") {
        if (!value(o.sel.target.path) || o.sel.target.path.empty())
            return usageError("convert: --target needs a value");
    } else if (a == "--password") {
        if (!value(o.sel.target.password)) return usageError("convert: --password needs a value");
    } else if (a == "--overwrite") {
        if (!value(v)) return usageError("convert: --overwrite needs ask, yes or no");
        return readOverwrite(v, o.overwrite);
    } else if (a == "--create") {
        o.create = true;
    } else if (a == "--script") {
        if (!value(o.script) || o.script.empty()) return usageError("convert: --script needs a file");
        o.haveScript = true;
    } else {
        return usageError("convert: unknown argument '" + a + "'");
    }
    return 0;
}

// --report FILE or --quiet at args[i]: 1 when taken, 0 when neither, -1
// after a usage error was printed.
int takeOutputOption(const Args& args, size_t& i, ConvertOptions& o) {
    if (args[i] == "--quiet") {
        o.quiet = true;
        return 1;
    }
    if (args[i] != "--report") return 0;
    if (i + 1 >= args.size() || args[i + 1].empty()) return usageError("convert: --report needs a file"), -1;
    o.report = args[++i];
    return 1;
}

// The options of convert: 0, or the exit status of the usage error printed.
int readConvertOptions(const Args& args, ConvertOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (const int taken = takeOutputOption(args, i, o)) {
            if (taken < 0) return 2;
            continue;
        }
        if (const int status = takeConvertOption(args, i, o)) return status;
    }
    if (!o.haveSource) return usageError("convert: give the source, --folder DIR or --dbc FILE");
    if (o.sel.target.path.empty()) return usageError("convert: give the target, --target DB");
    return checkCodePageArgs(o.sel.source.codePage, o.forceCodePage, "convert");
}

// The summary line on stdout.
void printSummary(const convert::RunSummary& s) {
    std::cout << s.tables << (s.tables == 1 ? " table, " : " tables, ") << s.rows
              << (s.rows == 1 ? " row, " : " rows, ") << s.failedStatements
              << (s.failedStatements == 1 ? " failed statement" : " failed statements");
    if (s.lostValues > 0)
        std::cout << ", " << s.lostValues << (s.lostValues == 1 ? " value" : " values") << " not read";
    std::cout << std::endl;
}

// The --report file; false, told, when it cannot be written.
bool writeReport(const std::string& file, const RunSelection& sel, const convert::RunSummary& s, int status) {
    std::ofstream report(file, std::ios::binary | std::ios::trunc);
    const std::string stopped = !s.ran || s.stopped  ? "the source or the target could not be used"
                                : !s.endedBy.empty() ? "ended early: " + s.endedBy
                                : s.cancelled        ? "stopped by the user"
                                                     : std::string();
    if (report) writeRunReport(report, sel, s, status, stopped);
    if (report.flush()) return true;
    std::cerr << "tallyport: " << file << ": cannot write the report file\n";
    return false;
}

// What the run left out, changed or was stopped in, one line each.
void printNotes(const convert::RunSummary& s) {
    printCodePageNotes(s.codePages, "");
    for (const std::string& n : s.keysLeftOut) std::cerr << "tallyport: not created: " << n << "\n";
    for (const std::string& n : s.relationsUnenforced) std::cerr << "tallyport: not enforced: " << n << "\n";
    for (const std::string& n : s.fieldNotes) std::cerr << "tallyport: " << n << "\n";
    if (s.cancelled)
        std::cerr << "tallyport: stopped"
                  << (s.cancelledTable.empty() ? std::string()
                                               : ": what was written of " + s.cancelledTable + " was taken back")
                  << "\n";
}

}  // namespace

int runConvert(const Args& args) {
    ConvertOptions o;
    if (const int status = readConvertOptions(args, o)) return status;
    const RunSelection& sel = o.sel;
    const bool haveScript = o.haveScript;
    const std::string& script = o.script;

    std::ofstream scriptOut;
    std::unique_ptr<ScriptList> scriptList;
    if (haveScript) {
        scriptOut.open(script, std::ios::binary | std::ios::trunc);
        if (!scriptOut) {
            std::cerr << "tallyport: " << script << ": cannot write the script file\n";
            return 1;
        }
        scriptList = std::make_unique<ScriptList>(scriptOut);
    }

    const bool terminal = isatty(STDERR_FILENO) != 0;
    ConvertBoxes boxes(o.overwrite, o.create, terminal && isatty(STDIN_FILENO) != 0);
    CliHost host(scriptList.get(), boxes, terminal && !o.quiet, o.keys);
    setMessageBoxes(&boxes);
    convert::ConversionRun run(host);
    run.setRegionalSettings(environmentSettings());
    interrupted = 0;
    const auto previous = std::signal(SIGINT, onInterrupt);
    const convert::RunSummary& s = run.start(sel);
    std::signal(SIGINT, previous);
    host.endProgress();
    setMessageBoxes(nullptr);
    if (host.accessConnection()) host.accessConnection()->Close();

    const int status = s.failures > 0 || !s.ran || s.cancelled ? 1 : 0;
    if (!o.report.empty() && !writeReport(o.report, sel, s, status)) return 1;
    if (!s.ran) {
        std::cerr << "tallyport: " << sel.source.path << ": the FoxPro source cannot be opened\n";
        return 1;
    }
    printNotes(s);
    if (haveScript) {
        scriptOut.flush();
        if (!scriptOut) {
            std::cerr << "tallyport: " << script << ": writing the script failed\n";
            return 1;
        }
    }
    printSummary(s);
    return status;
}

}  // namespace tp::cli
