# Fails when a source file includes a header of a layer above its own.
#   cmake -DSRC=<source folder> -P check_layers.cmake
#
# layer (folder)      may include
#   db/coding/        db/coding/ (the coding toolkit: nothing else of ours)
#   db/               db/
#   host/             host/ db/
#   convert/          convert/ host/ db/
#   ui/               ui/ host/ db/
#   preview/          preview/ ui/ convert/ host/ db/
#   app/cli*          app/cli* app/build_info.h convert/ host/ db/
#   app/ (windows)    anything of ours
set(rules
  "db/coding/:db/coding/"
  "db/:db/"
  "host/:host/|db/"
  "convert/:convert/|host/|db/"
  "ui/:ui/|host/|db/"
  "preview/:preview/|ui/|convert/|host/|db/"
  "app/cli:app/cli|app/build_info.h|convert/|host/|db/")
set(problems "")
foreach(rule IN LISTS rules)
  string(REPLACE ":" ";" parts "${rule}")
  list(GET parts 0 prefix)
  list(GET parts 1 allowed)
  file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/${prefix}*.h ${SRC}/${prefix}*.cpp ${SRC}/${prefix}*.inc)
  foreach(f IN LISTS files)
    file(STRINGS ${SRC}/${f} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
      if(NOT header MATCHES "/")
        continue()   # a header beside the file (generated or local)
      endif()
      if(NOT header MATCHES "^(${allowed})")
        string(APPEND problems "  ${f} includes ${header}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(problems)
  message(FATAL_ERROR "Includes that go up the layers:\n${problems}")
endif()
