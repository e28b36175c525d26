// The log of a run as a version-5 MAT-file, in bounded memory at any length:
// the rows wait in a spill file beside the output while the run goes, and
// go into their variables' places once the run's length is known.
#ifndef CORVEL_SIM_MAT_LOG_WRITER_H
#define CORVEL_SIM_MAT_LOG_WRITER_H

#include <memory>
#include <string>
#include <vector>

#include "output/log_writer.h"

namespace corvel::sim {

// Refuses, before a run, a MAT log at `path` whose variables would not fit
// the format: `rows` rows, each signal's own in `rows_of` (a multirate log).
// Throws OutputError.
void refuse_mat_log_past_limit(const std::string& path, size_t rows, const std::vector<size_t>& rows_of, int order,
                               const std::vector<std::string>& channels, bool multirate, const LogStyle& style);

std::unique_ptr<LogWriter> make_mat_log_writer(OutputFile& file, int order, const std::vector<std::string>& channels,
                                               bool multirate, const LogStyle& style);

}  // namespace corvel::sim

#endif
