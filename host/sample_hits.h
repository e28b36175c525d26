#pragma once
// A discrete block's sample hits on a fixed-step solver: its sample time
// must be a whole number of solver steps. One rule for the engine and for
// corvel-sim's plan of a run, so that a run is refused, or scheduled, the
// same way by both.

namespace corvel::host {

// Solver steps between the sample hits of a sample time `period` (> 0) on a
// solver of step `step`: the ratio's nearest whole number where the ratio is
// within 1e-9 of it (relative; 0.03 / 0.01 is 2.9999999999999996 in doubles,
// and 3 steps) and at most 1e15; 0 where it is no such multiple. A count
// that a long cannot hold (a 32-bit long) is held at the largest long: no run
// has that many steps, so the block has its one hit at step 0 either way.
long solver_steps_per_hit(double period, double step);

}  // namespace corvel::host
