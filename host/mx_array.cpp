// Our emulation of the host's arrays: every class, any size, real or complex,
// full or sparse.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host/array_api.h"
#include "host/call_scope.h"

struct mxArray_tag {
  mxClassID class_id;
  size_t rows;
  size_t columns;
  bool complex;
  bool sparse;
  size_t stored;      // elements in real (and imag): rows * columns, or nzmax when sparse
  size_t present;     // sparse only: how many stored values count
  size_t element_size;
  void* real;
  void* imag;
};

namespace {

size_t element_size_of(mxClassID id) {
  switch (id) {
    case mxLOGICAL_CLASS:
    case mxINT8_CLASS:
    case mxUINT8_CLASS:
      return 1;
    case mxCHAR_CLASS:
    case mxINT16_CLASS:
    case mxUINT16_CLASS:
      return 2;
    case mxSINGLE_CLASS:
    case mxINT32_CLASS:
    case mxUINT32_CLASS:
      return 4;
    default:
      return 8;
  }
}

mxArray* make(mxClassID id, size_t rows, size_t columns, size_t stored, bool complex, bool sparse) {
  auto* a = static_cast<mxArray*>(std::calloc(1, sizeof(mxArray)));
  if (a == nullptr) return nullptr;
  a->class_id = id;
  a->rows = rows;
  a->columns = columns;
  a->complex = complex;
  a->sparse = sparse;
  a->stored = stored;
  a->element_size = element_size_of(id);
  // At least one element, so that data pointers of empty arrays are valid too.
  const size_t count = std::max<size_t>(stored, 1);
  a->real = std::calloc(count, a->element_size);
  a->imag = complex ? std::calloc(count, a->element_size) : nullptr;
  if (a->real == nullptr || (complex && a->imag == nullptr)) {
    std::free(a->real);
    std::free(a->imag);
    std::free(a);
    return nullptr;
  }
  corvel::host::note_array_created(a);
  return a;
}

template <typename T>
double read_as_double(const void* data) {
  T value;
  std::memcpy(&value, data, sizeof value);
  return static_cast<double>(value);
}

bool empty(const mxArray* a) { return a->rows == 0 || a->columns == 0; }

}  // namespace

extern "C" {

mxArray* mxCreateNumericMatrix(size_t rows, size_t columns, mxClassID class_id, mxComplexity complexity) {
  return make(class_id, rows, columns, rows * columns, complexity == mxCOMPLEX, false);
}

mxArray* mxCreateDoubleMatrix(size_t rows, size_t columns, mxComplexity complexity) {
  return mxCreateNumericMatrix(rows, columns, mxDOUBLE_CLASS, complexity);
}

mxArray* mxCreateDoubleMatrix_700(int rows, int columns, mxComplexity complexity) {
  if (rows < 0 || columns < 0) corvel::host::raise_mex_error("mxCreateDoubleMatrix_700: negative size");
  return mxCreateDoubleMatrix(static_cast<size_t>(rows), static_cast<size_t>(columns), complexity);
}

mxArray* mxCreateDoubleScalar(double value) {
  mxArray* a = mxCreateDoubleMatrix(1, 1, mxREAL);
  if (a != nullptr) *static_cast<double*>(a->real) = value;
  return a;
}

mxArray* mxCreateLogicalScalar(bool value) {
  mxArray* a = mxCreateNumericMatrix(1, 1, mxLOGICAL_CLASS, mxREAL);
  if (a != nullptr) *static_cast<std::uint8_t*>(a->real) = value ? 1 : 0;
  return a;
}

mxArray* mxCreateString(const char* text) {
  const size_t length = std::strlen(text);
  mxArray* a = mxCreateNumericMatrix(1, length, mxCHAR_CLASS, mxREAL);
  if (a == nullptr) return nullptr;
  auto* chars = static_cast<std::uint16_t*>(a->real);
  for (size_t i = 0; i < length; ++i) chars[i] = static_cast<unsigned char>(text[i]);
  return a;
}

mxArray* mxCreateSparse(size_t rows, size_t columns, size_t nzmax, mxComplexity complexity) {
  return make(mxDOUBLE_CLASS, rows, columns, nzmax, complexity == mxCOMPLEX, true);
}

void mxSetSparseCount(mxArray* array, size_t count) {
  if (array != nullptr && array->sparse) array->present = std::min(count, array->stored);
}

void mxDestroyArray(mxArray* array) {
  if (array == nullptr) return;
  corvel::host::note_array_destroyed(array);
  std::free(array->real);
  std::free(array->imag);
  std::free(array);
}

mxClassID mxGetClassID(const mxArray* array) { return array->class_id; }

double mxGetScalar(const mxArray* a) {
  if (empty(a) || (a->sparse && a->present == 0)) return 0.0;
  switch (a->class_id) {
    case mxDOUBLE_CLASS: return read_as_double<double>(a->real);
    case mxSINGLE_CLASS: return read_as_double<float>(a->real);
    case mxLOGICAL_CLASS:
    case mxUINT8_CLASS: return read_as_double<std::uint8_t>(a->real);
    case mxINT8_CLASS: return read_as_double<std::int8_t>(a->real);
    case mxCHAR_CLASS:
    case mxUINT16_CLASS: return read_as_double<std::uint16_t>(a->real);
    case mxINT16_CLASS: return read_as_double<std::int16_t>(a->real);
    case mxINT32_CLASS: return read_as_double<std::int32_t>(a->real);
    case mxUINT32_CLASS: return read_as_double<std::uint32_t>(a->real);
    case mxINT64_CLASS: return read_as_double<std::int64_t>(a->real);
    case mxUINT64_CLASS: return read_as_double<std::uint64_t>(a->real);
    default: return 0.0;
  }
}

void* mxGetData(const mxArray* a) { return empty(a) && !a->sparse ? nullptr : a->real; }

double* mxGetPr(const mxArray* a) {
  return a->class_id == mxDOUBLE_CLASS ? static_cast<double*>(mxGetData(a)) : nullptr;
}

double* mxGetPi(const mxArray* a) {
  return a->class_id == mxDOUBLE_CLASS && a->complex ? static_cast<double*>(a->imag) : nullptr;
}

size_t mxGetNumberOfElements(const mxArray* a) { return a->rows * a->columns; }
size_t mxGetM(const mxArray* a) { return a->rows; }
size_t mxGetN(const mxArray* a) { return a->columns; }

bool mxIsNumeric(const mxArray* a) { return a->class_id >= mxDOUBLE_CLASS && a->class_id <= mxUINT64_CLASS; }
bool mxIsLogical(const mxArray* a) { return a->class_id == mxLOGICAL_CLASS; }
bool mxIsEmpty(const mxArray* a) { return empty(a); }
bool mxIsSparse(const mxArray* a) { return a->sparse; }
bool mxIsComplex(const mxArray* a) { return a->complex; }
bool mxIsDouble(const mxArray* a) { return a->class_id == mxDOUBLE_CLASS; }

}  // extern "C"
