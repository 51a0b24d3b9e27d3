# Checks which folders a source file may include from, so that the layers stay
# apart: run as `cmake -DSOURCE_DIR=<repo> -P check_layering.cmake`; any
# include that crosses a rule is printed and the script fails.
#
#   folder        may not include
#   base/         any other folder of the project, Qt
#   export/jet/   model/, ctl/, inspect/, app/, the export layer above it, Qt
#   model/, ctl/, export/, inspect/   Qt
#
# Qt is any <Q...> or <qt...> header, or a "Q..." one.
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<repo> -P check_layering.cmake")
endif()

set(qt_regex "^#[ \t]*include[ \t]*[<\"](Q[A-Za-z]|qt|Qt)")
set(violations 0)

# check(folder, regex, why): every .h/.cpp below `folder` whose include line
# matches `regex` is a violation.
function(check folder regex why)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp"
       "${SOURCE_DIR}/${folder}/*.inc")
  foreach(f ${files})
    file(STRINGS "${f}" lines REGEX "^#[ \t]*include")
    foreach(line ${lines})
      if(line MATCHES "${regex}")
        file(RELATIVE_PATH rel "${SOURCE_DIR}" "${f}")
        message("${rel}: ${line}  (${why})")
        math(EXPR violations "${violations} + 1")
      endif()
    endforeach()
  endforeach()
  set(violations ${violations} PARENT_SCOPE)
endfunction()

check(base "^#[ \t]*include[ \t]*\"(model|ctl|export|inspect|app|tools|tests)/"
      "base/ depends on nothing above it")
check(export/jet "^#[ \t]*include[ \t]*\"(model|ctl|inspect|app|tools|tests)/"
      "the Jet layer knows nothing of the document, the reader or the windows")
check(export/jet "^#[ \t]*include[ \t]*\"export/[^j/][^/]*\\.h\""
      "the Jet layer does not use the export layer above it")
foreach(folder base model ctl export inspect)
  check(${folder} "${qt_regex}" "no Qt outside app/")
endforeach()

if(violations GREATER 0)
  message(FATAL_ERROR "${violations} include(s) cross a layer")
endif()
message("layering: no include crosses a layer")
