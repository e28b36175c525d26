// The charting library of the interactive plot page: dygraphs (Debian's
// libjs-dygraphs), built into the program where it was installed at build
// time, else read from where that package puts it.
#ifndef CORVEL_SIM_DYGRAPHS_ASSETS_H
#define CORVEL_SIM_DYGRAPHS_ASSETS_H

#include <string>

namespace corvel::sim {

struct DygraphsAssets {
  std::string script;  // dygraph.min.js, without its source-map line
  std::string style;   // dygraph.min.css
};

// Throws OutputError saying what to install when the library is nowhere.
DygraphsAssets dygraphs_assets();

}  // namespace corvel::sim

#endif
