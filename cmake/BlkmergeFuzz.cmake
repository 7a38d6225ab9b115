# libFuzzer targets. Every target comes as two executables in one directory,
# ${BLKMERGE_FUZZ_DIR}:
#   fuzz_NAME       the fuzzer (LLVMFuzzerTestOneInput, linked with libFuzzer)
#   seeds_NAME DIR  a plain program that writes the seed corpus into DIR,
#                   made with the project's own builders (no corpus files are
#                   kept in the repository)
# scripts/check runs every fuzz_NAME found there on the seeds of seeds_NAME.
#
#   blkmerge_add_fuzzer(NAME TARGET source... SEEDS source... LIBS library...)

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "BLKMERGE_FUZZ needs clang (libFuzzer); use the fuzz preset")
endif()

set(BLKMERGE_FUZZ_DIR ${PROJECT_BINARY_DIR}/fuzzers)

function(blkmerge_add_fuzzer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "TARGET;SEEDS;LIBS")
  if(NOT arg_TARGET OR NOT arg_SEEDS)
    message(FATAL_ERROR "blkmerge_add_fuzzer(${name}): TARGET and SEEDS are required")
  endif()
  add_executable(fuzz_${name} ${arg_TARGET})
  target_link_libraries(fuzz_${name} PRIVATE ${arg_LIBS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  add_executable(seeds_${name} ${arg_SEEDS})
  target_link_libraries(seeds_${name} PRIVATE ${arg_LIBS})
  set_target_properties(fuzz_${name} seeds_${name} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${BLKMERGE_FUZZ_DIR})
endfunction()
