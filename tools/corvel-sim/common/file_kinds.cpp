#include "common/file_kinds.h"

namespace corvel::sim {

bool is_mat_path(const std::string& path) {
  return path.size() > 4 && (path.compare(path.size() - 4, 4, ".mat") == 0 || path.compare(path.size() - 4, 4, ".MAT") == 0);
}

}  // namespace corvel::sim
