// The names of the figures of several signals that one --plot names.
#ifndef CORVEL_SIM_FIGURE_NAMES_H
#define CORVEL_SIM_FIGURE_NAMES_H

#include <string>
#include <vector>

namespace corvel::sim {

// A figure for each of `signals`: est.svg -> est.NAME.svg, each name kept to
// what every file system takes and apart from the others in any case.
std::vector<std::string> figure_paths(const std::string& plot, const std::vector<std::string>& signals);

}  // namespace corvel::sim

#endif
