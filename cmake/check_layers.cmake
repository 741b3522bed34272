# Fails when a source file includes a header of a layer above its own, or of
# an engine beside its own.
#   cmake -DSRC=<source folder> -P check_layers.cmake
#
# Every include form is seen: "path", <path>, and a name without a folder
# (read as the file beside the including one). Headers that are not ours
# (<vector>, <QWidget>) and generated headers are left alone.
#
# files                     may include
#   db/coding/ (the coding    db/coding/ only
#     toolkit)
#   db/ base: value, error,   db/ base only
#     busy, cursor
#   db/jet/format/ (the       db/jet/format/, db/coding/, db/ base
#     on-disk structures and
#     the sort-order keys)
#   db/jet/storage/ (pager,   db/jet/storage/, format/, the engine's face,
#     journal, ciphers)         db/coding/, db/ base
#   db/jet/tables/ (the       db/jet/tables/, storage/, format/, the face,
#     engine class: catalog,    db/coding/, db/ base
#     definitions, rows, long
#     values)
#   db/jet/sql/ (parse and    db/jet/sql/, tables/stored_table.h (the
#     coerce, queries)          table descriptions, not the engine class),
#                               format/, the face, db/coding/, db/ base
#   db/jet/keys/ (indexes,    db/jet/keys/, sql/, tables/, storage/,
#     keys, relationships)      format/, the face, db/coding/, db/ base
#   db/jet/check/             db/jet/check/, tables/, storage/, format/,
#                               the face, db/coding/, db/ base
#   db/jet/ (the engine's     db/jet/, db/coding/, db/ base
#     door: database.h and
#     errors.h are its face)
#   db/foxpro/ (the reader)   db/foxpro/, db/coding/, db/ base
#   db/ (ADO-like layer and   db/
#     the providers)
#   host/                     host/ db/
#   convert/                  convert/ host/ db/
#   ui/                       ui/ host/ db/
#   preview/                  preview/ ui/ convert/ host/ db/
#   app/cli*                  app/cli* app/build_info.h convert/ host/ db/
#   app/ (windows)            anything of ours
# The first rule whose files match applies.
set(base "db/value\\.h|db/error\\.h|db/busy\\.h|db/cursor\\.h")
set(face "db/jet/database\\.h|db/jet/errors\\.h")
set(below "db/coding/|${base}")
set(rules
  "db/coding/:db/coding/"
  "db/(value|error|busy|cursor)\\.:${base}"
  "db/jet/format/:db/jet/format/|${below}"
  "db/jet/storage/:db/jet/storage/|db/jet/format/|${face}|${below}"
  "db/jet/tables/:db/jet/tables/|db/jet/storage/|db/jet/format/|${face}|${below}"
  "db/jet/sql/:db/jet/sql/|db/jet/tables/stored_table\\.h|db/jet/format/|${face}|${below}"
  "db/jet/keys/:db/jet/keys/|db/jet/sql/|db/jet/tables/|db/jet/storage/|db/jet/format/|${face}|${below}"
  "db/jet/check/:db/jet/check/|db/jet/tables/|db/jet/storage/|db/jet/format/|${face}|${below}"
  "db/jet/:db/jet/|${below}"
  "db/foxpro/:db/foxpro/|db/coding/|${base}"
  "db/:db/"
  "host/:host/|db/"
  "convert/:convert/|host/|db/"
  "ui/:ui/|host/|db/"
  "preview/:preview/|ui/|convert/|host/|db/"
  "app/cli:app/cli|app/build_info\\.h|convert/|host/|db/"
  "app/:.")
set(ours "^(db|host|convert|ui|preview|app)/")

# The header an include line names, as a path from SRC; empty when it is not
# one of ours.
function(resolve_include file line out)
  string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^\">]*)[\">].*" "\\1" header "${line}")
  get_filename_component(dir "${file}" DIRECTORY)
  if(NOT header MATCHES "/" AND EXISTS "${SRC}/${dir}/${header}")
    set(header "${dir}/${header}")   # a header beside the file
  elseif(header MATCHES "^\\.\\./|/\\.\\./|^\\./")
    get_filename_component(abs "${SRC}/${dir}/${header}" ABSOLUTE)
    file(RELATIVE_PATH header "${SRC}" "${abs}")
  endif()
  if(header MATCHES "${ours}")
    set(${out} "${header}" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

set(problems "")
file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/db/* ${SRC}/host/* ${SRC}/convert/* ${SRC}/ui/* ${SRC}/preview/*
     ${SRC}/app/*)
list(FILTER files INCLUDE REGEX "\\.(h|cpp|inc)$")
foreach(f IN LISTS files)
  set(allowed "")
  foreach(rule IN LISTS rules)
    string(REGEX REPLACE ":.*" "" prefix "${rule}")
    string(REGEX REPLACE "^[^:]*:" "" may "${rule}")
    if(f MATCHES "^${prefix}")
      set(allowed "${may}")
      break()
    endif()
  endforeach()
  if(allowed STREQUAL "")
    continue()
  endif()
  file(STRINGS ${SRC}/${f} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS includes)
    resolve_include("${f}" "${line}" header)
    if(header STREQUAL "")
      continue()
    endif()
    if(NOT header MATCHES "^(${allowed})")
      string(APPEND problems "  ${f} includes ${header}\n")
    endif()
  endforeach()
endforeach()
if(problems)
  message(FATAL_ERROR "Includes that go up the layers or across the engines:\n${problems}")
endif()
