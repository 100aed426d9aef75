// The command lines of the bench programs: "--name value" pairs, each value a whole number of
// something (calls, rounds, computers...), and "--figures 7,8" choosing figures.
#ifndef BENCH_SIZE_OPTIONS_H_
#define BENCH_SIZE_OPTIONS_H_

#include <cstddef>
#include <map>
#include <set>
#include <string>

namespace nvo_bench {

// Reads argv[1...] into the variables `sizes` names ("--calls" -> &calls); a value must be a
// positive number, or zero for the names in `zeroAllowed`. "--figures" (only where `figures` is
// given) replaces the set with the comma-separated numbers. False on an unknown name, a
// missing or bad value.
bool readSizeOptions(int argc, char** argv, const std::map<std::string, std::size_t*>& sizes,
                     std::set<int>* figures = nullptr,
                     const std::set<std::string>& zeroAllowed = {});

}  // namespace nvo_bench

#endif  // BENCH_SIZE_OPTIONS_H_
