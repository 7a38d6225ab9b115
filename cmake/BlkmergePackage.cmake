# The Debian package: everything `cmake --install` puts under the prefix
# (both tools, their manual pages, the manual page of the formats and the
# README), versioned from the project. Built by the package preset:
#   cmake --workflow --preset package    gives build/package/blkmerge_VERSION_ARCH.deb

set(CPACK_GENERATOR DEB)
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
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Depends: from the libraries the tools are linked with (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
