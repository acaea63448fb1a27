# The Debian package: `cpack` in a build folder (the generator defaults to
# DEB) makes quillon_<version>_<arch>.deb from the install rules. Build the
# package from a folder configured without QUILLON_SANITIZE (for example
# -DCMAKE_BUILD_TYPE=Release): cpack refuses a sanitizer build.

if(PROJECT_VERSION)
  set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
else()
  set(CPACK_PACKAGE_VERSION "0.1.0")
endif()
set(CPACK_PACKAGE_NAME "quillon")
set(CPACK_PACKAGE_VENDOR "Quillon developers")
set(CPACK_PACKAGE_CONTACT "Quillon developers <quillon-dev@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "3D wall of internet TV and video channels")
set(CPACK_PACKAGE_DESCRIPTION
"Quillon shows a catalogue of internet TV and video channels as a 4 x 4 wall
of thumbnails in a 3D OpenGL scene filling the desktop. The arrow keys move
the selection and scroll, web channels play in the default web browser and
streams in a media player (mpv recommended), and a personal favourites list
is kept. Each user's catalogue state lives in ~/.local/share/quillon/, made
from the installed template on the first run.")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/build-[^/]*/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "video")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# xdg-open opens the web pages; the shared libraries the program links give
# the library dependencies, found by dpkg-shlibdeps (from dpkg-dev). CPack's
# own CPACK_DEBIAN_PACKAGE_SHLIBDEPS runs `file` once for every packaged file
# to find the programs, minutes for the thousands of files of the data root,
# so cpack-project.cmake asks dpkg-shlibdeps about the packaged programs instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
# The channel cards are set in the Noto fonts (every script, CJK included).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils, fonts-noto-core, fonts-noto-cjk")
# Channels that are streams play in a media player; mpv is the first one
# looked for (vlc, celluloid or totem do as well).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "mpv")
set(CPACK_QUILLON_PROGRAM_LIST "${CMAKE_BINARY_DIR}/packaging/packaged-programs.txt")
set(quillon_packaged_programs "$<TARGET_FILE:quillon>\n")
foreach(tool quillon-import quillon-check-data quillon-upgrade-root quillon-live)
  if(TARGET ${tool})
    string(APPEND quillon_packaged_programs "$<TARGET_FILE:${tool}>\n")
  endif()
endforeach()
file(GENERATE OUTPUT "${CPACK_QUILLON_PROGRAM_LIST}" CONTENT "${quillon_packaged_programs}")

# Read by cpack itself: stops packaging a sanitizer build.
set(CPACK_QUILLON_SANITIZE "${QUILLON_SANITIZE}")
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/cpack-project.cmake")

include(CPack)
