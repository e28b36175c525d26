#include "run/run_description.h"

namespace corvel::sim {

double block_gain(const BlockParameters& block, size_t channel) {
  return block.gains.empty() ? block.gain : block.gains.at(channel);
}

std::unique_ptr<Record> open_record(const RunDescription& run) {
  return open_record(static_cast<const RecordSource&>(run), run.step);
}

}  // namespace corvel::sim
