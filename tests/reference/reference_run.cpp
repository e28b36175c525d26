// The block's outputs over a record computed by the independent reference
// alone, as the host sees them sample by sample, with the gain and the order
// changed at one sample as a tunable parameter is: for the Python package's
// stream tests, which compare its bits with these.
//   corvel_reference_run GAIN ORDER STEP WIDTH CHANGE_AT NEW_GAIN NEW_ORDER < samples > outputs
// samples: doubles in the machine's order; outputs: for each sample the error
// output, z0 and WIDTH derivative outputs, taken after the outputs are
// written (the error output as the previous update left it).
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "reference/whole_step.h"

int main(int argc, char** argv) {
  if (argc != 8) {
    std::fprintf(stderr, "usage: corvel_reference_run GAIN ORDER STEP WIDTH CHANGE_AT NEW_GAIN NEW_ORDER\n");
    return 2;
  }
  double gain = std::atof(argv[1]), order = std::atof(argv[2]);
  const double h = std::atof(argv[3]);
  const int width = std::atoi(argv[4]);
  const long change_at = std::atol(argv[5]);
  const double new_gain = std::atof(argv[6]), new_order = std::atof(argv[7]);
  std::vector<double> u;
  for (double x; std::fread(&x, sizeof x, 1, stdin) == 1;) u.push_back(x);

  reference::Matrix phi;
  reference::transition_matrix(h, phi);
  double z[11] = {}, z_next[11];
  double error_output = 0.0;
  std::vector<double> derivative_outputs(static_cast<size_t>(width), 0.0);
  for (size_t k = 0; k < u.size(); ++k) {
    if (k == 0) z[0] = u[0];  // the initial conditions: z0 = u, the rest 0
    if (static_cast<long>(k) == change_at) {
      gain = new_gain;
      order = new_order;
    }
    // The outputs: z1..z(min(order, width)), the rest as they were.
    for (int i = 1; i <= order && i <= width && i < 11; ++i) derivative_outputs[static_cast<size_t>(i - 1)] = z[i];
    const double out[2] = {error_output, z[0]};
    std::fwrite(out, sizeof(double), 2, stdout);
    std::fwrite(derivative_outputs.data(), sizeof(double), derivative_outputs.size(), stdout);
    // The update.
    reference::step(phi, u[k], z, gain, h, order, &error_output, z_next);
    for (int i = 0; i < 11; ++i) z[i] = z_next[i];
  }
  return 0;
}
