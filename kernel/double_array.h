// The kernel's growable array of doubles on the process heap.
#ifndef CORVEL_KERNEL_DOUBLE_ARRAY_H
#define CORVEL_KERNEL_DOUBLE_ARRAY_H

#include <cstdint>

namespace corvel {

// Element count = product of the dim_count extents (1 for no dimensions).
// The record, dims and (while owns_elements) the storage are separate heap
// blocks owned by the array.
struct DoubleArray {
  double* elements;       // null until the first growth
  std::int32_t* dims;     // dim_count extents
  std::int32_t capacity;  // elements the storage holds; 0 while elements is null
  std::int32_t dim_count;
  bool owns_elements;
};

// Stores a new empty array (no storage, dim_count extents of 0) in *handle.
// Returns false, with *handle null, when dim_count is negative or an
// allocation fails.
bool double_array_create(DoubleArray** handle, std::int32_t dim_count);

// Makes the storage hold the product of the current extents, keeping the first
// old_count elements (a negative old_count copies nothing; more than the old
// capacity copies the old capacity). New elements read 0. The capacity grows
// from 16 by doubling, and from above 0x3FFFFFFF straight to 0x7FFFFFFF.
// Storage the array does not own is left to its owner. Returns false and
// leaves the array as it was when the extents' product lies outside the signed
// 32-bit range or the allocation fails.
bool double_array_grow(DoubleArray* array, std::int32_t old_count, std::int32_t element_size);

// The capacity double_array_grow settles on for `needed` elements.
std::int32_t double_array_next_capacity(std::int32_t capacity, std::int32_t needed);

// Frees the owned storage, the extents and the record, and nulls *handle. A null
// handle or a null *handle is left alone, so freeing twice frees once.
void double_array_free(DoubleArray** handle);

}  // namespace corvel

#endif
