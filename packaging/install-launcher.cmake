# Runs at install time (from cmake_install.cmake, also under cpack): writes
# the launcher for the prefix that is really being installed to and installs
# it. Expects QUILLON_LAUNCHER_IN, QUILLON_LAUNCHER_OUT and the install
# folders QUILLON_BINDIR, QUILLON_PROGRAM_DIR and QUILLON_TEMPLATE_DIR
# (relative to the prefix, or absolute).

function(quillon_full_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

quillon_full_path(bin_dir "${QUILLON_BINDIR}")
quillon_full_path(QUILLON_PROGRAM_DIR_FALLBACK "${QUILLON_PROGRAM_DIR}")
quillon_full_path(QUILLON_TEMPLATE_FALLBACK "${QUILLON_TEMPLATE_DIR}")
file(RELATIVE_PATH QUILLON_PROGRAM_DIR_FROM_BIN "${bin_dir}" "${QUILLON_PROGRAM_DIR_FALLBACK}")
file(RELATIVE_PATH QUILLON_TEMPLATE_FROM_BIN "${bin_dir}" "${QUILLON_TEMPLATE_FALLBACK}")

configure_file("${QUILLON_LAUNCHER_IN}" "${QUILLON_LAUNCHER_OUT}" @ONLY)
file(INSTALL DESTINATION "${bin_dir}" TYPE PROGRAM FILES "${QUILLON_LAUNCHER_OUT}")
