# The Windows build's tests under an emulator (see cmake/mingw-w64.cmake).
#
# The emulator keeps its state in one prefix in the build tree, made once
# by the first test, which every other test waits for.
add_test(NAME emulator_prefix COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init)
set_tests_properties(emulator_prefix PROPERTIES FIXTURES_SETUP emulator)

# A build of this same tree for the machine that builds, whose outputs the
# Windows build's are compared with byte for byte.
include(ExternalProject)
set(native_targets blkmerge blkinspect blkmerge_windows_e2e_tests)
if(CMAKE_GENERATOR MATCHES "Makefiles")
  # A make of its own, which shares the outer make's jobs.
  set(native_build_command $(MAKE) ${native_targets})
else()
  set(native_build_command ${CMAKE_COMMAND} --build <BINARY_DIR> --target ${native_targets})
endif()
ExternalProject_Add(native_build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/native
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} "-DCMAKE_CXX_FLAGS_RELEASE=${CMAKE_CXX_FLAGS_RELEASE}"
             -DBLKMERGE_WERROR=ON
  BUILD_COMMAND ${native_build_command}
  INSTALL_COMMAND ""
  BUILD_ALWAYS TRUE)

# The emulator as a shell command prefix, each word quoted.
set(emulator_command "")
foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
  string(APPEND emulator_command " '${word}'")
endforeach()
add_test(NAME windows_e2e COMMAND ${CMAKE_BINARY_DIR}/native/tests/blkmerge_windows_e2e_tests)
set_tests_properties(windows_e2e PROPERTIES
  FIXTURES_REQUIRED emulator
  ENVIRONMENT "BLKMERGE_EMULATOR=${emulator_command};WINDOWS_BLKMERGE=$<TARGET_FILE:blkmerge>;WINDOWS_BLKINSPECT=$<TARGET_FILE:blkinspect>")
