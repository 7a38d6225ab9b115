# The packages: everything `cmake --install` puts under the prefix,
# versioned from the project, stripped.
#
# The Debian package (both tools, their manual pages, the manual page of
# the formats, the README and the licence as its copyright file), built by
# the package preset:
#   cmake --workflow --preset package    gives build/package/blkmerge_VERSION_ARCH.deb
#
# The Windows zip (blkmerge.exe, blkinspect.exe, README.md and LICENSE in
# one folder), built by the windows preset after its tests:
#   cmake --workflow --preset windows    gives build/windows/blkmerge-VERSION-windows-x86_64.zip

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "blkmerge maintainers <maintainers@users.noreply.c-seed-4dc8b5b2.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "pack binary input files into one merged file and a cons_fix file")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "blkmerge reads a text job file and packs the binary input files it lists"
  "into one merged file, each rewritten into a file block stamped with its"
  "alias's name hash, and writes a cons_fix file of fixed 176-byte records."
  "blkinspect lists and checks what a run wrote.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The tools this tree built, stripped: in the windows preset the very
  # programs its tests ran under wine, built for release. The tools carry
  # no test seam (see the platform layer in CMakeLists.txt).
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-windows-x86_64)
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Depends: from the libraries the tools are linked with (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
