# Read by cpack for each package it makes.

# A binary package must not carry the test build's AddressSanitizer and
# UndefinedBehaviorSanitizer.
if(CPACK_QUILLON_SANITIZE AND CPACK_INSTALL_CMAKE_PROJECTS)
  message(FATAL_ERROR
    "this build folder is built with QUILLON_SANITIZE=ON; make packages from a "
    "separate build: cmake -S <source> -B build-package -DCMAKE_BUILD_TYPE=Release "
    "-DQUILLON_TESTS=OFF -DQUILLON_BENCH=OFF && cmake --build build-package -j2 && "
    "cd build-package && cpack")
endif()

# The Debian package depends on the packages of the shared libraries that the
# packaged programs link, as dpkg-shlibdeps finds them.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_QUILLON_PROGRAM_LIST)
  find_program(QUILLON_SHLIBDEPS dpkg-shlibdeps)
  if(NOT QUILLON_SHLIBDEPS)
    message(FATAL_ERROR "dpkg-shlibdeps is missing: install dpkg-dev (scripts/setup does)")
  endif()
  file(STRINGS "${CPACK_QUILLON_PROGRAM_LIST}" quillon_programs)
  foreach(program IN LISTS quillon_programs)
    if(NOT EXISTS "${program}")
      message(FATAL_ERROR "${program} is not built: build the project before running cpack")
    endif()
  endforeach()
  # dpkg-shlibdeps wants to run in a Debian source tree.
  get_filename_component(work "${CPACK_QUILLON_PROGRAM_LIST}" DIRECTORY)
  set(work "${work}/shlibdeps")
  file(REMOVE_RECURSE "${work}")
  file(WRITE "${work}/debian/control" "Source: quillon\n\nPackage: quillon\nArchitecture: any\n")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C
            ${QUILLON_SHLIBDEPS} --ignore-missing-info -O ${quillon_programs}
    WORKING_DIRECTORY "${work}"
    RESULT_VARIABLE status
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
  file(REMOVE_RECURSE "${work}")
  if(NOT status EQUAL 0 OR NOT output MATCHES "shlibs:Depends=([^\n]*)")
    message(FATAL_ERROR "dpkg-shlibdeps failed (${status}): ${errors}")
  endif()
  if(CPACK_DEBIAN_PACKAGE_DEPENDS)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${CMAKE_MATCH_1}")
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
  endif()
endif()
