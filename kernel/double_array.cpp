#include "kernel/double_array.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace corvel {

namespace {
constexpr std::int32_t kMinCapacity = 16;
constexpr std::int32_t kMaxCapacity = 0x7FFFFFFF;
constexpr std::int32_t kLastDoubling = 0x3FFFFFFF;
}  // namespace

bool double_array_create(DoubleArray** handle, std::int32_t dim_count) {
  if (handle == nullptr) return false;
  *handle = nullptr;
  if (dim_count < 0) return false;
  auto* array = static_cast<DoubleArray*>(std::malloc(sizeof(DoubleArray)));
  if (array == nullptr) return false;
  // One extent at least, so that a zero-dimension array still has a block.
  auto* dims = static_cast<std::int32_t*>(std::calloc(dim_count > 0 ? dim_count : 1, sizeof(std::int32_t)));
  if (dims == nullptr) {
    std::free(array);
    return false;
  }
  array->elements = nullptr;
  array->dims = dims;
  array->capacity = 0;
  array->dim_count = dim_count;
  array->owns_elements = true;
  *handle = array;
  return true;
}

std::int32_t double_array_next_capacity(std::int32_t capacity, std::int32_t needed) {
  std::int32_t cap = capacity < kMinCapacity ? kMinCapacity : capacity;
  while (cap < needed) cap = cap > kLastDoubling ? kMaxCapacity : 2 * cap;
  return cap;
}

bool double_array_grow(DoubleArray* array, std::int32_t old_count, std::int32_t element_size) {
  if (array == nullptr || element_size <= 0) return false;
  if (old_count < 0) old_count = 0;

  // The product in 64 bits, checked after every factor: two factors of at
  // most 2^31 in magnitude cannot overflow it.
  std::int64_t needed = 1;
  for (std::int32_t i = 0; i < array->dim_count; ++i) {
    needed *= array->dims[i];
    if (needed > kMaxCapacity || needed < -std::int64_t{kMaxCapacity} - 1) return false;
  }
  if (needed <= array->capacity) return true;

  const std::int32_t cap = double_array_next_capacity(array->capacity, static_cast<std::int32_t>(needed));
  void* storage = std::calloc(static_cast<std::size_t>(cap), static_cast<std::size_t>(element_size));
  if (storage == nullptr) return false;
  if (array->elements != nullptr) {
    const std::int32_t kept = old_count < array->capacity ? old_count : array->capacity;
    std::memcpy(storage, array->elements, static_cast<std::size_t>(kept) * static_cast<std::size_t>(element_size));
    if (array->owns_elements) std::free(array->elements);
  }
  array->elements = static_cast<double*>(storage);
  array->capacity = cap;
  array->owns_elements = true;
  return true;
}

void double_array_free(DoubleArray** handle) {
  if (handle == nullptr || *handle == nullptr) return;
  DoubleArray* array = *handle;
  if (array->elements != nullptr && array->owns_elements) std::free(array->elements);
  std::free(array->dims);
  std::free(array);
  *handle = nullptr;
}

}  // namespace corvel
