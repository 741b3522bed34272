// Shared helpers of the test programs: scripted message boxes, temporary
// folders, child processes and the independent readers.
#pragma once

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/message_box.h"

namespace tp::test {

// Records every box; answers questions from a script (default: `fallback`).
class RecordingBoxes : public MessageBoxes {
public:
    struct Shown {
        std::string text;
        int style;
        std::string title;
    };
    explicit RecordingBoxes(int fallback = mb::Yes) : fallback_(fallback) {}
    int show(const std::string& text, int style, const std::string& title) override;

    std::vector<Shown> shown;
    std::deque<int> answers;

private:
    int fallback_;
};

// Installs a RecordingBoxes for the lifetime of the object.
class ScopedBoxes : public RecordingBoxes {
public:
    explicit ScopedBoxes(int fallback = mb::Yes);
    ~ScopedBoxes() override;
};

// A temporary folder, removed with what it holds. Before that, every Access
// database left in it is checked (expectAccessFileSound): each test that
// writes an Access file is checked once more at its end, whatever it wrote.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    // For tests that damage files on purpose: nothing in it is checked.
    void leaveUnchecked() { check_ = false; }

private:
    std::filesystem::path path_;
    bool check_ = true;
};

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
// Runs argv (no shell); stdin from /dev/null.
CommandResult runCommand(const std::vector<std::string>& argv);

std::filesystem::path sharedDir();
std::filesystem::path corpusPath(const std::string& relative);
// The tallyport executable of this build.
std::string tallyportExe();

// Runs the integrity check (tallyport check, in process) on an Access file a
// test wrote and fails the test with its lines. The readers below call it on
// every file they read, so each test that reads back what it wrote is checked
// too. Untouched files of the shared corpus are left to the corpus test; a
// wrong password is left to the caller.
void expectAccessFileSound(const std::string& path, const std::string& password = {});
// The check's problem lines for a file, less the faults Access itself left in
// the corpus files a copy was made from (stored row counts too low).
std::vector<std::string> accessFileProblems(const std::string& path, const std::string& password = {});

// Independent readers. When one is missing, the checks that need it are
// skipped visibly: GTEST_SKIP with the reason where the rest of the test
// needs the reader too, else skippedCheck, which marks the test skipped and
// lets its other checks run.
bool mdbReaderAvailable();
bool mdbtoolsAvailable();
bool dbfreadAvailable();
// mdb-dump.mjs FILE [--password P]: JSON text.
CommandResult mdbReaderDump(const std::string& file, const std::string& password = {});
// mdbtools-dump.sh FILE: text.
CommandResult mdbtoolsDump(const std::string& file);
// dbf-dump.py PATH [extra args]: JSON text.
CommandResult dbfreadDump(const std::string& path, const std::vector<std::string>& extra = {});

// Marks the running test skipped, with the reason, without ending it: its
// other checks still run, and any failure still fails it.
void skippedCheck(const std::string& why);

// Sets an environment variable for the lifetime of the object, and puts
// back what was there before.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& data);

}  // namespace tp::test
