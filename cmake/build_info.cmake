# Writes OUT, the C++ source that names the commit a build comes from, when
# its text changes. Runs at every build, so the name is never stale; outside a
# git checkout of this source (a source archive) the commit is unknown.
#   cmake -DSRC=<source dir> -DGIT=<git or empty> -DOUT=<file> -P build_info.cmake
set(commit "")
set(modified false)
if(GIT)
  execute_process(COMMAND "${GIT}" -C "${SRC}" rev-parse --show-toplevel
                  OUTPUT_VARIABLE top RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(rc EQUAL 0)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SRC}" src)
  endif()
  if(rc EQUAL 0 AND top STREQUAL src)
    execute_process(COMMAND "${GIT}" -C "${SRC}" rev-parse --short=12 HEAD
                    OUTPUT_VARIABLE commit RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT rc EQUAL 0)
      set(commit "")
    endif()
    execute_process(COMMAND "${GIT}" -C "${SRC}" status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE changes RESULT_VARIABLE rc ERROR_QUIET)
    if(rc EQUAL 0 AND NOT changes STREQUAL "")
      set(modified true)
    endif()
  endif()
endif()
file(CONFIGURE OUTPUT "${OUT}" CONTENT [[
// Written by cmake/build_info.cmake at build time.
#include "app/build_info.h"

namespace tp::cli {
const char* const kBuildCommit = "@commit@";
const bool kBuildModified = @modified@;
}  // namespace tp::cli
]] @ONLY)
