#include "kernel/double_array.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace corvel {
namespace {

// Sets one extent and grows, following the resize protocol.
void resize(DoubleArray* array, std::int32_t extent) {
  std::int32_t old_count = 1;
  for (std::int32_t i = 0; i < array->dim_count; ++i) old_count *= array->dims[i];
  array->dims[0] = extent;
  ASSERT_TRUE(double_array_grow(array, old_count, sizeof(double)));
}

TEST(DoubleArray, CapacityGrowsFromSixteenByDoubling) {
  DoubleArray* array = nullptr;
  ASSERT_TRUE(double_array_create(&array, 1));
  EXPECT_EQ(array->elements, nullptr);
  EXPECT_EQ(array->capacity, 0);
  EXPECT_TRUE(array->owns_elements);
  EXPECT_EQ(array->dims[0], 0);

  resize(array, 11);
  EXPECT_EQ(array->capacity, 16);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(array->elements[i], 0.0);
  for (int i = 0; i < 11; ++i) array->elements[i] = i + 0.5;

  double* storage = array->elements;
  resize(array, 16);
  EXPECT_EQ(array->elements, storage);  // fits: no allocation
  resize(array, 5);
  resize(array, 16);
  EXPECT_EQ(array->elements, storage);  // shrinking never moves or shrinks
  EXPECT_EQ(array->capacity, 16);

  resize(array, 17);
  EXPECT_EQ(array->capacity, 32);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(array->elements[i], i + 0.5);  // kept
  for (int i = 16; i < 32; ++i) EXPECT_EQ(array->elements[i], 0.0);
  resize(array, 100);
  EXPECT_EQ(array->capacity, 128);
  double_array_free(&array);
}

TEST(DoubleArray, CapacityRuleNearTheTopOfTheRange) {
  const struct {
    std::int32_t capacity, needed, expected;
  } cases[] = {{0, 1, 16},
               {16, 17, 32},
               {16, 100, 128},
               {0x40000000, 0x40000001, 0x7FFFFFFF},
               {0x3FFFFFFF, 0x40000000, 0x7FFFFFFE},
               {0x20000000, 0x7FFFFFFF, 0x7FFFFFFF}};
  for (const auto& c : cases) EXPECT_EQ(double_array_next_capacity(c.capacity, c.needed), c.expected) << c.needed;
}

TEST(DoubleArray, ZeroDimensionsHoldOneElement) {
  DoubleArray* array = nullptr;
  ASSERT_TRUE(double_array_create(&array, 0));
  ASSERT_TRUE(double_array_grow(array, 0, sizeof(double)));
  EXPECT_EQ(array->capacity, 16);
  double_array_free(&array);
}

TEST(DoubleArray, NegativeOldCountCopiesNothing) {
  DoubleArray* array = nullptr;
  ASSERT_TRUE(double_array_create(&array, 1));
  resize(array, 4);
  array->elements[0] = 7.0;
  array->dims[0] = 40;
  ASSERT_TRUE(double_array_grow(array, -5, sizeof(double)));
  EXPECT_EQ(array->elements[0], 0.0);
  double_array_free(&array);
}

TEST(DoubleArray, StorageItDoesNotOwnSurvivesAGrowth) {
  DoubleArray* array = nullptr;
  ASSERT_TRUE(double_array_create(&array, 1));
  double borrowed[4] = {1, 2, 3, 4};
  array->elements = borrowed;
  array->capacity = 4;
  array->owns_elements = false;
  array->dims[0] = 20;
  ASSERT_TRUE(double_array_grow(array, 4, sizeof(double)));
  EXPECT_TRUE(array->owns_elements);
  EXPECT_NE(array->elements, borrowed);
  EXPECT_EQ(array->capacity, 32);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(array->elements[i], borrowed[i]);
  EXPECT_EQ(borrowed[3], 4.0);
  double_array_free(&array);  // frees the new storage; the sanitizer build sees a wrong free
}

TEST(DoubleArray, ExtentsBeyondTheSignedRangeAreRefusedAndChangeNothing) {
  DoubleArray* array = nullptr;
  ASSERT_TRUE(double_array_create(&array, 3));
  array->dims[0] = array->dims[1] = array->dims[2] = 2;
  ASSERT_TRUE(double_array_grow(array, 0, sizeof(double)));
  double* storage = array->elements;
  array->dims[0] = 65536;
  array->dims[1] = 65536;  // 2^33 elements
  EXPECT_FALSE(double_array_grow(array, 8, sizeof(double)));
  EXPECT_EQ(array->elements, storage);
  EXPECT_EQ(array->capacity, 16);
  array->dims[1] = -65536;
  EXPECT_FALSE(double_array_grow(array, 8, sizeof(double)));
  EXPECT_EQ(array->capacity, 16);
  double_array_free(&array);
}

TEST(DoubleArray, OldCountBeyondTheOldCapacityCopiesOnlyWhatThereIs) {
  DoubleArray* array = nullptr;
  ASSERT_TRUE(double_array_create(&array, 1));
  resize(array, 3);
  array->elements[15] = 9.0;
  array->dims[0] = 40;
  ASSERT_TRUE(double_array_grow(array, 1000, sizeof(double)));
  EXPECT_EQ(array->elements[15], 9.0);
  EXPECT_EQ(array->elements[16], 0.0);
  double_array_free(&array);
}

TEST(DoubleArray, FreeingTwiceThroughOneHandleFreesOnce) {
  DoubleArray* array = nullptr;
  double_array_free(&array);
  double_array_free(nullptr);
  ASSERT_TRUE(double_array_create(&array, 2));
  double_array_free(&array);
  EXPECT_EQ(array, nullptr);
  double_array_free(&array);
  EXPECT_FALSE(double_array_create(&array, -1));
  EXPECT_EQ(array, nullptr);
}

}  // namespace
}  // namespace corvel
