#include "run/run_description.h"

namespace corvel::sim {

std::unique_ptr<Record> open_record(const RunDescription& run) {
  return open_record(static_cast<const RecordSource&>(run), run.step);
}

}  // namespace corvel::sim
