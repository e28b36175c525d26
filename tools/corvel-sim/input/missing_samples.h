// Gaps in a record (empty cells, NaN samples): refused with what to do about
// them, or filled by holding or interpolating, each filled sample known.
#ifndef CORVEL_SIM_MISSING_SAMPLES_H
#define CORVEL_SIM_MISSING_SAMPLES_H

#include <memory>
#include <string>

#include "input/record.h"
#include "input/record_source.h"

namespace corvel::sim {

// The words of --missing: "keep", "refuse", "hold", "interpolate".
const char* missing_word(MissingSamples how);
// False for any other word.
bool read_missing_word(const std::string& word, MissingSamples* how);

// The record with its gaps dealt with as `how` says (kKeep: the record as
// it is). Filling looks ahead only as far as the end of a gap: to its next
// sample for kInterpolate, and for a gap at the very start (which has no
// sample before it: its first sample is used). A signal with no sample at
// all, and any gap under kRefuse, throw InputError naming the first missing
// sample's place and the gap's length.
// `as_keyword`: the refusal names the choices as a keyword argument
// (missing='hold'), not as the command line's option.
std::unique_ptr<Record> with_gaps_filled(std::unique_ptr<Record> record, MissingSamples how, bool as_keyword = false);

}  // namespace corvel::sim

#endif
