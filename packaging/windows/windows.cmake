# The Windows build: the program (no console, every library linked in, so
# it needs nothing but Windows' own DLLs) and the launcher that the Start
# menu starts (tools/windows_launcher_main.cpp). Both carry the icon and a
# manifest; scripts/windows puts them into the installer.
# ImageMagick's own convert, rather than any other program of that name
# that comes first on PATH.
find_program(QUILLON_CONVERT NAMES convert PATHS /usr/bin NO_DEFAULT_PATH)
find_program(QUILLON_CONVERT NAMES convert REQUIRED)
set(QUILLON_ICON ${CMAKE_CURRENT_BINARY_DIR}/quillon.ico)
set(QUILLON_ICON_SIZES 256 128 64 48 32)
list(TRANSFORM QUILLON_ICON_SIZES REPLACE "(.+)"
  "${CMAKE_CURRENT_SOURCE_DIR}/packaging/icons/quillon-\\1.png" OUTPUT_VARIABLE QUILLON_ICON_PNGS)
add_custom_command(
  OUTPUT ${QUILLON_ICON}
  COMMAND ${QUILLON_CONVERT} ${QUILLON_ICON_PNGS} ${QUILLON_ICON}
  DEPENDS ${QUILLON_ICON_PNGS}
  COMMENT "Making the Windows icon"
  VERBATIM)
set(QUILLON_MANIFEST ${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows/quillon.manifest)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows/quillon.rc.in
  ${CMAKE_CURRENT_BINARY_DIR}/quillon.rc @ONLY)
set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/quillon.rc PROPERTIES
  OBJECT_DEPENDS "${QUILLON_ICON};${QUILLON_MANIFEST}")

add_executable(quillon-launcher tools/windows_launcher_main.cpp)
target_link_libraries(quillon-launcher PRIVATE quillon_core)
foreach(program quillon quillon-launcher)
  target_sources(${program} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/quillon.rc)
  set_target_properties(${program} PROPERTIES WIN32_EXECUTABLE ON)
  target_link_options(${program} PRIVATE -static -s)
endforeach()

# What the installer script packaging/windows/quillon.nsi takes from this
# build; scripts/windows adds the data root template and runs makensis.
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/installer.nsh CONTENT
"!define QUILLON_VERSION \"${PROJECT_VERSION}\"
!define QUILLON_PROGRAM \"$<TARGET_FILE:quillon>\"
!define QUILLON_LAUNCHER \"$<TARGET_FILE:quillon-launcher>\"
!define QUILLON_ICON \"${QUILLON_ICON}\"
!define QUILLON_SOURCE \"${CMAKE_CURRENT_SOURCE_DIR}\"
")
add_custom_target(quillon-icon ALL DEPENDS ${QUILLON_ICON})
