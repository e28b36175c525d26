// A block held by our host layer with the three parameters given as doubles,
// taken through sizes, propagation and signal allocation as a host would.
#ifndef CORVEL_TESTS_BLOCK_FIXTURE_H
#define CORVEL_TESTS_BLOCK_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "block/setup.h"
#include "host/array_api.h"
#include "host/block_instance.h"

namespace corvel::test {

inline std::vector<mxArray*> scalar_params(std::vector<double> values) {
  std::vector<mxArray*> params;
  for (double v : values) params.push_back(mxCreateDoubleScalar(v));
  return params;
}

// Sizes, default dimensions, default data types, work widths and sample times,
// then signals: a block ready for its run-time callbacks.
inline void set_up_block(host::BlockInstance& block, double L, double step, double n) {
  block.set_params(scalar_params({L, step, n}));
  mdlInitializeSizes(block.S());
  ASSERT_EQ(block.error(), nullptr) << block.error();
  mdlSetDefaultPortDimensionInfo(block.S());
  mdlSetDefaultPortDataTypes(block.S());
  mdlSetWorkWidths(block.S());
  mdlInitializeSampleTimes(block.S());
  std::string why;
  ASSERT_TRUE(block.allocate_signals(&why)) << why;
}

}  // namespace corvel::test

#endif
