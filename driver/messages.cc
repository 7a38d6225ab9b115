#include "driver/messages.h"

namespace blkmerge::message {
namespace {

std::string Cat(std::string_view a, std::string_view b, std::string_view c = {},
                std::string_view d = {}) {
  std::string s;
  s.reserve(a.size() + b.size() + c.size() + d.size());
  return s.append(a).append(b).append(c).append(d);
}

}  // namespace

std::string CouldNotOpenInput(std::string_view name) {
  return Cat("Could not open input file ", name);
}
std::string CouldNotOpenOutput(std::string_view name) {
  return Cat("Could not open output file ", name);
}
std::string CouldNotWriteOutput(std::string_view name) {
  return Cat("Could not write output file ", name);
}
std::string InputDamaged(std::string_view name) {
  return Cat("Input file ", name, " is truncated or damaged");
}
std::string SameFile(std::string_view output, std::string_view other) {
  return Cat("Output file ", output, " is the same file as ", other);
}
std::string Processed(std::string_view input, std::string_view alias) {
  return Cat("Processed ", input, " as ", alias);
}
std::string Produced(std::string_view cons_fix_name) {
  return Cat("Produced cons_fix file ", cons_fix_name);
}

std::string ForJob(const JobProblem& problem, std::string_view job_file) {
  switch (problem.error) {
    case JobError::kNoOutputNames:
      return Cat("Could not read output file names from input file ", job_file);
    case JobError::kSameOutputNames: return std::string(kSameOutputNames);
    case JobError::kNoNumbers: return Cat("Could not read four numbers from input file ", job_file);
    case JobError::kNameTooLong:
      return Cat("Name longer than 99 characters in input file ", job_file);
    case JobError::kInputIsOutput:
      return Cat("input file ", problem.name, " cannot have name of output file");
    case JobError::kTooManyPairs: return Cat("More than 100 input files in input file ", job_file);
    case JobError::kAliasTooLong:
      return Cat("Alias ", problem.name, " is too long for the cons_fix file");
    case JobError::kNone: break;
  }
  return {};
}

}  // namespace blkmerge::message
