// The per-user settings store: application "Brindlewood", section
// "Tallyport", one text per key. On Linux it is the file
// $XDG_CONFIG_HOME/Brindlewood/Tallyport.conf (group [Tallyport]). The store
// holds the target password in plain text, so the file is kept readable and
// writable by its owner only (mode 0600).
#pragma once

#include <memory>
#include <string>

#include "db/ado.h"

class QSettings;

namespace tp::app {

inline constexpr const char* kSettingsApplication = "Brindlewood";
inline constexpr const char* kSettingsSection = "Tallyport";

// The keys of the store, as users' files and earlier versions know them.
inline constexpr const char* kPreviewModeKey = "Check1";       // 0, 1 (on) or 2 (grayed)
inline constexpr const char* kPreviewAtEndKey = "Option1";     // "True" or "False"
inline constexpr const char* kPreviewPerTableKey = "Option2";  // "True" or "False"
inline constexpr const char* kFolderKey = "FreeTableFolder";
inline constexpr const char* kDbcFileKey = "DBCFile";
inline constexpr const char* kSourceKindKey = "FoxproOption";  // "1" the .dbc, "2" the folder
inline constexpr const char* kTargetFileKey = "AccessMDBFile";
inline constexpr const char* kTargetPasswordKey = "AccessPassword";
// The code page of tables that name none: "0" (or absent) found from their
// text, else its number; "1" under the second key: for every table.
inline constexpr const char* kCodePageKey = "CodePage";
inline constexpr const char* kForceCodePageKey = "ForceCodePage";
// "Create keys, indexes and relations": "1" (or absent) on, "0" off.
inline constexpr const char* kCreateKeysKey = "CreateKeys";
// "Access field types": "1" (or absent) each field in its own Access type,
// "0" non-numeric fields as text.
inline constexpr const char* kAccessTypesKey = "AccessFieldTypes";

class SettingsStore {
public:
    SettingsStore();
    ~SettingsStore();

    // The stored text, or `fallback` when the key is absent.
    std::string get(const std::string& key, const std::string& fallback) const;
    // Writes the text and flushes it to the file at once. Throws
    // std::runtime_error when the store cannot be written.
    void save(const std::string& key, const std::string& text);

    std::string fileName() const;

private:
    void secureFile() const;
    std::unique_ptr<QSettings> s_;
};

// The code page choice kept under kCodePageKey and kForceCodePageKey (a
// stored number FoxPro does not know reads as automatic).
db::CodePageChoice storedCodePage();
void storeCodePage(const db::CodePageChoice& choice);
// Whether the run creates keys, indexes and relations (on unless stored off).
bool storedCreateKeys();
void storeCreateKeys(bool on);
// Whether the run gives each field its own Access type (on unless stored off).
bool storedAccessTypes();
void storeAccessTypes(bool on);

// The process-wide store (created on first use).
SettingsStore& settings();
// Forgets the open store; the next settings() opens it again (tests that
// point the store at another folder).
void reopenSettings();

}  // namespace tp::app
