# What the Windows build adds (included by the top-level CMakeLists.txt when
# WIN32): Windows 10 as the oldest target, UTF-16 API names, the resources
# (manifest, version, icon) every program carries, and, when cross-compiling,
# Wine as the runner of the tests and build steps.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                        _WIN32_WINNT=0x0A00 WINVER=0x0A00)
enable_language(RC)

# kp_windows_resources(target DESCRIPTION) gives a program its manifest,
# version resource and icon.
set(KP_PACKAGING_WINDOWS ${CMAKE_SOURCE_DIR}/packaging/windows)
function(kp_windows_resources target description)
  get_target_property(out ${target} OUTPUT_NAME)
  if(NOT out)
    set(out ${target})
  endif()
  set(KP_RC_DESCRIPTION "${description}")
  set(KP_RC_NAME "${out}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${KP_PACKAGING_WINDOWS}/program.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS "${KP_PACKAGING_WINDOWS}/program.manifest;${CMAKE_SOURCE_DIR}/app/icons/zirirav-convert.ico")
  target_include_directories(${target} PRIVATE ${KP_PACKAGING_WINDOWS} ${CMAKE_SOURCE_DIR}/app/icons)
endfunction()

if(CMAKE_CROSSCOMPILING AND KP_WINE64)
  get_filename_component(kp_wine_dir ${KP_WINE64} DIRECTORY)
  find_program(KP_WINESERVER NAMES wineserver64 wineserver HINTS ${kp_wine_dir})
  set(KP_WINEPREFIX ${CMAKE_BINARY_DIR}/wine)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
endif()
