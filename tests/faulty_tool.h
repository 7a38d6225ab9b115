// The tools built with the fault seam (platform/fault.h), for end-to-end
// tests: faulty_blkmerge and faulty_blkinspect are the tools themselves,
// their own main included, that first take the faults listed in the
// environment variable below, one a line:
//
//   OP OFFSET CODE NAME
//
// OP is read, write, close or rename; OFFSET and CODE are decimal; NAME is
// the rest of the line. Each line is one platform::Fault.
#ifndef BLKMERGE_TESTS_FAULTY_TOOL_H_
#define BLKMERGE_TESTS_FAULTY_TOOL_H_

namespace blkmerge::testutil {

inline constexpr const char* kFaultsVariable = "BLKMERGE_TEST_FAULTS";

}  // namespace blkmerge::testutil

#endif  // BLKMERGE_TESTS_FAULTY_TOOL_H_
