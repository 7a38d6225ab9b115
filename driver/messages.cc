#include "driver/messages.h"

namespace blkmerge::message {
namespace {

template <typename... Parts>
std::string Cat(const Parts&... parts) {
  std::string s;
  s.reserve((std::string_view(parts).size() + ...));
  (s.append(std::string_view(parts)), ...);
  return s;
}

}  // namespace

std::string NoOutputNames(std::string_view job_file) {
  return Cat("Could not read output file names from input file ", job_file);
}
std::string NoNumbers(std::string_view job_file) {
  return Cat("Could not read four numbers from input file ", job_file);
}
std::string NameTooLong(std::string_view job_file) {
  return Cat("Name longer than 99 characters in input file ", job_file);
}
std::string TooManyPairs(std::string_view job_file) {
  return Cat("More than 100 input files in input file ", job_file);
}
std::string InputIsOutput(std::string_view input) {
  return Cat("input file ", input, " cannot have name of output file");
}
std::string AliasTooLong(std::string_view alias) {
  return Cat("Alias ", alias, " is too long for the cons_fix file");
}

std::string CouldNotOpenInput(std::string_view name) {
  return Cat("Could not open input file ", name);
}
std::string CouldNotReadInput(std::string_view name) {
  return Cat("Could not read input file ", name);
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
std::string Help() {
  constexpr std::string_view kAbout =
      "Packs the input files that a job file lists into a merged file and a cons_fix file.\n"
      "\n"
      "  input_ini_file     the job file: the two output names, four numbers, then pairs\n"
      "                     of an input file and its alias (see blkmerge(1), blkmerge(5))\n"
      "  --help, --version  print this help, or the version\n"
      "\n"
      "A job file named --help or --version is given as ./--help or ./--version.\n"
      "Exit status: 0 both outputs written, 1 the run failed (why on standard error),\n"
      "2 not exactly one argument.\n";
  return Cat(kUsage, "\n", kAbout);
}
std::string Version() { return Cat("blkmerge ", BLKMERGE_VERSION, "\n"); }

}  // namespace blkmerge::message
