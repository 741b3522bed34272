#include "tests/support/support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>

#include "db/error.h"
#include "db/jet/check/check.h"

namespace tp::test {

namespace fs = std::filesystem;

int RecordingBoxes::show(const std::string& text, int style, const std::string& title) {
    shown.push_back({text, style, title});
    if ((style & 0xF) != mb::YesNo) return mb::Ok;
    if (answers.empty()) return fallback_;
    int a = answers.front();
    answers.pop_front();
    return a;
}

ScopedBoxes::ScopedBoxes(int fallback) : RecordingBoxes(fallback) { setMessageBoxes(this); }
ScopedBoxes::~ScopedBoxes() { setMessageBoxes(nullptr); }

TempDir::TempDir() {
    std::random_device rd;
    for (int i = 0; i < 100; ++i) {
        auto p = fs::temp_directory_path() / ("tallyport-test-" + std::to_string(rd()));
        if (fs::create_directory(p)) {
            path_ = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    if (check_) {
        // Files with the header of a Jet or ACE database (not the garbage
        // some tests name .mdb); encrypted ones without their password are
        // left to the tests that know it.
        for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            const std::string ext = it->path().extension().string();
            if (!it->is_regular_file(ec) || (ext != ".mdb" && ext != ".accdb")) continue;
            std::string head(20, '\0');
            std::ifstream in(it->path(), std::ios::binary);
            if (in.read(head.data(), 20) &&
                (head.compare(4, 15, "Standard Jet DB") == 0 || head.compare(4, 15, "Standard ACE DB") == 0))
                expectAccessFileSound(it->path().string());
        }
    }
    fs::remove_all(path_, ec);
}

static std::string slurpFd(int fd) {
    std::string s;
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
    return s;
}

CommandResult runCommand(const std::vector<std::string>& argv) {
    CommandResult r;
    // Output goes through temporary files so that large outputs cannot
    // deadlock on full pipes.
    char outName[] = "/tmp/tp-out-XXXXXX";
    char errName[] = "/tmp/tp-err-XXXXXX";
    int outFd = ::mkstemp(outName);
    int errFd = ::mkstemp(errName);
    if (outFd < 0 || errFd < 0) return r;
    pid_t pid = ::fork();
    if (pid == 0) {
        int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    ::lseek(outFd, 0, SEEK_SET);
    ::lseek(errFd, 0, SEEK_SET);
    r.out = slurpFd(outFd);
    r.err = slurpFd(errFd);
    ::close(outFd);
    ::close(errFd);
    ::unlink(outName);
    ::unlink(errName);
    return r;
}

fs::path sharedDir() {
    if (const char* e = std::getenv("TP_SHARED_DIR"); e && *e) return e;
    return TP_SHARED_DIR;
}

fs::path corpusPath(const std::string& relative) { return sharedDir() / "corpus" / relative; }

std::string tallyportExe() { return std::string(TP_BINARY_DIR) + "/tallyport"; }

static fs::path oraclesDir() {
    if (const char* e = std::getenv("TP_ORACLES_DIR"); e && *e) return e;
    if (std::string(TP_ORACLES_DIR).size()) return TP_ORACLES_DIR;
    return sharedDir() / "tools" / "oracles";
}

bool mdbReaderAvailable() {
    return fs::exists(oraclesDir() / "node_modules" / "mdb-reader") && runCommand({"node", "--version"}).exitCode == 0;
}

bool mdbtoolsAvailable() { return runCommand({"mdb-ver", "--version"}).exitCode != 127; }

bool dbfreadAvailable() { return runCommand({"/usr/bin/python3", "-c", "import dbfread"}).exitCode == 0; }

// The creation time in a database's header (the same bytes in a copy).
static std::string creationStamp(const std::string& path) {
    std::string head(0x7A, '\0');
    std::ifstream in(path, std::ios::binary);
    if (!in.read(head.data(), std::streamsize(head.size()))) return {};
    return head.substr(0x72);
}

// The warnings of the corpus files made at the same moment as `path` (the
// originals a test copied it from), each corpus file checked once.
static bool corpusWarns(const std::string& path, const std::string& warning) {
    static std::map<std::string, std::vector<std::string>> warningsOf;  // by corpus file
    const std::string stamp = creationStamp(path);
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(corpusPath("access"), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string original = it->path().string();
        const std::string ext = it->path().extension().string();
        if ((ext != ".mdb" && ext != ".accdb") || stamp.empty() || creationStamp(original) != stamp) continue;
        if (!warningsOf.count(original)) {
            warningsOf[original] = {};
            for (const char* password : {"", "password", "ucanaccess"}) {  // the corpus's passwords
                try {
                    warningsOf[original] = db::jet::checkDatabase(original, password, 100000).warnings;
                    break;
                } catch (const std::exception&) {}
            }
        }
        for (const auto& w : warningsOf[original])
            if (w == warning) return true;
    }
    return false;
}

std::vector<std::string> accessFileProblems(const std::string& path, const std::string& password) {
    // Problems and warnings alike: a file we write has neither. Only the
    // warnings a copy of an Access-made corpus file inherits pass: those of
    // its original, and the stored row counts that Access itself left too low
    // (testV2000.mdb, testV2003.mdb: MSysACEs 3 rows short; calcFieldTestV2010
    // .accdb: Table1 one short), which every copy written into keeps.
    auto inherited = [&](const std::string& p) {
        unsigned stored = 0, found = 0;
        char tail = 0;
        return path.rfind(sharedDir().string(), 0) != 0 &&
               ((std::sscanf(p.c_str(), "table 'MSysACEs', page 3: its definition counts %u rows, but it holds %u%c",
                             &stored, &found, &tail) == 2 &&
                 found == stored + 3) ||
                p == "table 'Table1', page 86: its definition counts 3 rows, but it holds 4");
    };
    std::vector<std::string> out;
    auto report = db::jet::checkDatabase(path, password, 100000);
    for (auto& p : report.problems) out.push_back(std::move(p));
    for (auto& w : report.warnings)
        if (!inherited(w) && !corpusWarns(path, w)) out.push_back("warning: " + w);
    return out;
}

void expectAccessFileSound(const std::string& path, const std::string& password) {
    std::error_code ec;
    const auto full = std::filesystem::weakly_canonical(path, ec).string();
    const auto shared = std::filesystem::weakly_canonical(sharedDir(), ec).string();
    if (!shared.empty() && full.rfind(shared + "/", 0) == 0) return;
    std::vector<std::string> problems;
    try {
        problems = accessFileProblems(path, password);
    } catch (const db::Error& e) {
        if (e.number() == 3031) return;  // the caller tries a wrong password
        ADD_FAILURE() << "tallyport check " << path << ": " << e.what();
        return;
    }
    std::string lines;
    for (const auto& p : problems) lines += "\n  " + p;
    if (!lines.empty()) ADD_FAILURE() << "tallyport check " << path << ":" << lines;
}

CommandResult mdbReaderDump(const std::string& file, const std::string& password) {
    expectAccessFileSound(file, password);
    std::vector<std::string> argv = {"node", (oraclesDir() / "mdb-dump.mjs").string(), file};
    if (!password.empty()) {
        argv.push_back("--password");
        argv.push_back(password);
    }
    return runCommand(argv);
}

CommandResult mdbtoolsDump(const std::string& file) {
    expectAccessFileSound(file);
    return runCommand({"bash", (sharedDir() / "tools" / "oracles" / "mdbtools-dump.sh").string(), file});
}

CommandResult dbfreadDump(const std::string& path, const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {"/usr/bin/python3", (sharedDir() / "tools" / "oracles" / "dbf-dump.py").string(),
                                     path};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return runCommand(argv);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

void skippedCheck(const std::string& why) { GTEST_MESSAGE_(why.c_str(), ::testing::TestPartResult::kSkip); }

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value, 1);
}

ScopedEnv::~ScopedEnv() {
    if (old_) ::setenv(name_.c_str(), old_->c_str(), 1);
    else ::unsetenv(name_.c_str());
}

}  // namespace tp::test
