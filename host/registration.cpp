#include "host/registration.h"

#include <cstdint>

namespace corvel::host {

namespace {
double signed_word(std::uint32_t word) { return static_cast<double>(static_cast<std::int32_t>(word)); }
}  // namespace

mxArray* make_registration_vector(const SimStruct* S) {
  const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(S));
#if SS_LAYOUT_64
  mxArray* vector = mxCreateDoubleMatrix(3, 1, mxREAL);
  double* pr = mxGetPr(vector);
  pr[0] = signed_word(static_cast<std::uint32_t>(address));
  pr[1] = signed_word(static_cast<std::uint32_t>(address >> 32));
  pr[2] = SS_VERSION_WORD;
#else
  mxArray* vector = mxCreateDoubleMatrix(2, 1, mxREAL);
  double* pr = mxGetPr(vector);
  pr[0] = signed_word(static_cast<std::uint32_t>(address));
  pr[1] = SS_VERSION_WORD;
#endif
  return vector;
}

}  // namespace corvel::host
