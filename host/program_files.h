// Where the program finds its own files. Run from the build folder it keeps
// them beside the executable (the program folder). Installed, they live in a
// shared data folder (<prefix>/share/tallyport) that the user may not write,
// and the samples are used from a copy in the user's data folder.
#pragma once

#include <string>

namespace tp {

// The shared data folder of an installed program; empty (the default): none.
std::string sharedDataFolder();
void setSharedDataFolder(std::string folder);

// $XDG_DATA_HOME/tallyport, or ~/.local/share/tallyport when XDG_DATA_HOME is
// unset, empty or not an absolute path.
std::string userDataFolder();

// A file of the program ("HAND-M.CUR", "x/o.cjs"): beside the program when it
// is there, else in the shared data folder when it is there, else the name
// beside the program (a file that does not exist).
std::string programFile(const std::string& name);

// The sample folder. "Samples" beside the program when it is there, used in
// place. Else, when the shared data folder holds samples, the user's copy
// (userDataFolder()/Samples): files the copy lacks are copied first, files it
// has are kept, so a sample database the user converted into stays as it is;
// throws when the copy cannot be made. Else "Samples" beside the program.
std::string sampleFolder();

}  // namespace tp
