# Checks which folders a source file may include from, so that the layers stay
# apart: run as `cmake -DSOURCE_DIR=<repo> -P check_layering.cmake`; any
# include that crosses a rule is printed and the script fails.
#
#   folder        may not include
#   base/         any other folder of the project, Qt
#   jet/          anything but base/ (and itself), Qt
#   model/, ctl/, export/, inspect/, app/, tools/
#                 any Jet header but the public jet/jet.h (the layer's own
#                 tools in jet/tools/, the tests, benchmarks and fuzz targets
#                 may reach inside)
#   model/, ctl/, export/, inspect/   Qt, form/, app/
#   form/         any toolkit (Qt, or the Windows headers), app/
#   every folder but base/ (and the fuzz targets, tests, benchmarks)
#                 a header of the operating system: <unistd.h>, <fcntl.h>,
#                 <sys/...>, <dirent.h>, <malloc.h>, <spawn.h>; and <windows.h>
#                 outside base/ and the Windows window in app/win32/
#
# Qt is any <Q...> or <qt...> header, or a "Q..." one; the Windows toolkit is
# <windows.h>, <commctrl.h>, <commdlg.h> and the like.
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

check(base "^#[ \t]*include[ \t]*\"(model|ctl|export|inspect|form|app|tools|tests)/"
      "base/ depends on nothing above it")
check(jet "^#[ \t]*include[ \t]*\"(model|ctl|inspect|export|app|form|tools|tests)/"
      "the Jet layer stands on base/ alone")
foreach(folder model ctl export inspect form app tools)
  check(${folder} "^#[ \t]*include[ \t]*\"jet/[^j/][^/]*\\.h\""
        "above the Jet layer only jet/jet.h is included")
endforeach()
foreach(folder base model ctl export inspect jet form)
  check(${folder} "${qt_regex}" "no Qt outside app/")
endforeach()
foreach(folder model ctl export inspect)
  check(${folder} "^#[ \t]*include[ \t]*\"(form|app)/" "the window's design and views sit above")
endforeach()
check(form "^#[ \t]*include[ \t]*[<\"]([Ww]indows|[Cc]ommctrl|[Cc]ommdlg|[Ss]hellapi|[Ww]invs)\\.h"
      "the window's design and presenter know no toolkit")
check(form "^#[ \t]*include[ \t]*\"app/" "the design knows no view")

set(posix_regex "^#[ \t]*include[ \t]*<(unistd|fcntl|dirent|malloc|spawn)\\.h>|^#[ \t]*include[ \t]*<sys/")
set(windows_regex "^#[ \t]*include[ \t]*<(windows|winbase|winnt|io)\\.h>")
foreach(folder model ctl export inspect jet app form tools)
  check(${folder} "${posix_regex}" "the operating system is reached through base/")
endforeach()
foreach(folder model ctl export inspect jet form tools)
  check(${folder} "${windows_regex}" "the operating system is reached through base/")
endforeach()
file(GLOB app_dirs LIST_DIRECTORIES true "${SOURCE_DIR}/app/*")
foreach(dir ${app_dirs})
  file(RELATIVE_PATH rel "${SOURCE_DIR}" "${dir}")
  if(IS_DIRECTORY "${dir}" AND NOT rel STREQUAL "app/win32")
    check(${rel} "${windows_regex}" "only base/ and the Windows window include windows.h")
  endif()
endforeach()
file(GLOB app_files "${SOURCE_DIR}/app/*.h" "${SOURCE_DIR}/app/*.cpp")
foreach(f ${app_files})
  file(STRINGS "${f}" lines REGEX "^#[ \t]*include")
  foreach(line ${lines})
    if(line MATCHES "${windows_regex}")
      file(RELATIVE_PATH rel "${SOURCE_DIR}" "${f}")
      message("${rel}: ${line}  (only base/ and the Windows window include windows.h)")
      math(EXPR violations "${violations} + 1")
    endif()
  endforeach()
endforeach()

if(violations GREATER 0)
  message(FATAL_ERROR "${violations} include(s) cross a layer")
endif()
message("layering: no include crosses a layer")
