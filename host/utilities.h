// Small shared operations of the windows and the conversion run.
#pragma once

#include <string>

#include "host/list_box.h"

namespace tp::db {
class Value;
}

namespace tp {

// True when the path's modification time can be read.
bool fileExists(const std::string& path);
// Case-insensitive: does any entry equal the text?
bool listContainsText(const ListBox& list, const std::string& text);
// Removes every entry exactly equal to the text (case-sensitive).
void removeListEntry(ListBox& list, const std::string& text);
// The default when the value is null, else the value.
db::Value nullToDefault(const db::Value& value, const db::Value& fallback);

// The folder that holds the program, without a trailing separator.
std::string programFolder();
void setProgramFolder(std::string folder);
// programFolder() + separator + name.
std::string inProgramFolder(const std::string& name);

// Lower-cases ASCII letters (names and keywords).
std::string asciiLower(std::string s);

}  // namespace tp
