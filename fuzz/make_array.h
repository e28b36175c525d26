// Any array our array-API emulation can make, from fuzzer bytes.
#ifndef CORVEL_FUZZ_MAKE_ARRAY_H
#define CORVEL_FUZZ_MAKE_ARRAY_H

#include <cstdint>
#include <cstring>

#include "byte_reader.h"
#include "host/array_api.h"

namespace corvel::fuzz {

// Kind byte: double, complex double, sparse double, single, int8, uint16,
// int32, uint64, logical, char; then rows and columns (0..3 each); then one
// number per element (real parts; complex arrays get imaginary parts too).
inline mxArray* make_array(ByteReader& in) {
  const int kind = in.byte() % 10;
  const size_t rows = in.byte() % 4, columns = in.byte() % 4;
  const size_t count = rows * columns;
  mxArray* a = nullptr;
  switch (kind) {
    case 0: a = mxCreateDoubleMatrix(rows, columns, mxREAL); break;
    case 1: a = mxCreateDoubleMatrix(rows, columns, mxCOMPLEX); break;
    case 2: a = mxCreateSparse(rows, columns, count, mxREAL); break;
    case 3: a = mxCreateNumericMatrix(rows, columns, mxSINGLE_CLASS, mxREAL); break;
    case 4: a = mxCreateNumericMatrix(rows, columns, mxINT8_CLASS, mxREAL); break;
    case 5: a = mxCreateNumericMatrix(rows, columns, mxUINT16_CLASS, mxREAL); break;
    case 6: a = mxCreateNumericMatrix(rows, columns, mxINT32_CLASS, mxREAL); break;
    case 7: a = mxCreateNumericMatrix(rows, columns, mxUINT64_CLASS, mxREAL); break;
    case 8: a = mxCreateNumericMatrix(rows, columns, mxLOGICAL_CLASS, mxREAL); break;
    default: a = mxCreateNumericMatrix(rows, columns, mxCHAR_CLASS, mxREAL); break;
  }
  auto* bytes = static_cast<unsigned char*>(mxGetData(a));
  const size_t element = kind <= 2 || kind == 7 ? 8 : kind == 3 || kind == 6 ? 4 : kind == 5 || kind == 9 ? 2 : 1;
  for (size_t i = 0; i < count; ++i) {
    const double v = in.number();
    if (element == 8 && kind != 7) {
      std::memcpy(bytes + i * 8, &v, 8);
    } else {
      // Other classes take the number's raw bits, cut to their width.
      std::uint64_t bits;
      std::memcpy(&bits, &v, 8);
      std::memcpy(bytes + i * element, &bits, element);
    }
  }
  if (kind == 1) {
    double* imaginary = mxGetPi(a);
    for (size_t i = 0; i < count; ++i) imaginary[i] = in.number();
  }
  if (kind == 2) mxSetSparseCount(a, in.byte() % (count + 1));
  return a;
}

}  // namespace corvel::fuzz

#endif
