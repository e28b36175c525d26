#include "output/dygraphs_assets.h"

#include <fstream>
#include <sstream>

#include "common/errors.h"

#if defined(CORVEL_DYGRAPHS_EMBEDDED)
extern const unsigned char corvel_dygraph_min_js[];
extern const unsigned long corvel_dygraph_min_js_size;
extern const unsigned char corvel_dygraph_min_css[];
extern const unsigned long corvel_dygraph_min_css_size;
#endif

namespace corvel::sim {

namespace {

constexpr const char* kInstalledAt = "/usr/share/javascript/dygraphs/";

// A <script> element ends at the first "</script": the library holds none,
// and its source-map comment points at a file the page does not carry.
std::string without_source_map(std::string script) {
  const size_t map = script.rfind("//# sourceMappingURL=");
  if (map != std::string::npos) script.erase(map);
  return script;
}

#if !defined(CORVEL_DYGRAPHS_EMBEDDED)
std::string read_installed(const std::string& name) {
  std::ifstream in(kInstalledAt + name, std::ios::binary);
  if (!in) {
    throw OutputError(std::string("an HTML plot needs the dygraphs charting library, which this corvel-sim was built "
                                 "without and which is not at ") +
                     kInstalledAt + name + " (Debian: apt-get install libjs-dygraphs); an SVG plot (--plot x.svg) "
                     "needs nothing");
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
#endif

}  // namespace

DygraphsAssets dygraphs_assets() {
  DygraphsAssets assets;
#if defined(CORVEL_DYGRAPHS_EMBEDDED)
  assets.script.assign(reinterpret_cast<const char*>(corvel_dygraph_min_js), corvel_dygraph_min_js_size);
  assets.style.assign(reinterpret_cast<const char*>(corvel_dygraph_min_css), corvel_dygraph_min_css_size);
#else
  assets.script = read_installed("dygraph.min.js");
  assets.style = read_installed("dygraph.min.css");
#endif
  assets.script = without_source_map(std::move(assets.script));
  if (assets.script.find("</script") != std::string::npos) {
    throw OutputError("the dygraphs library holds \"</script\" and cannot be put in a page");
  }
  return assets;
}

}  // namespace corvel::sim
