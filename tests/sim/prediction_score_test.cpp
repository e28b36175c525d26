// A run's score without true derivatives: the error output's RMS after the
// warm-up against the input's change from one sample hit to the next, each
// signal on its own; and the note that names a gain that does not suit.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "run/prediction_score.h"

namespace corvel::sim {
namespace {

TEST(PredictionScore, EachSignalIsScoredFromTheWarmUpOnAgainstItsOwnChange) {
  PredictionScore score(2, 1.0);
  // Signal 0: inputs 0, 1, 3, 6 at t = 0..3; errors 5, 5, 3, 4. From t = 1 on:
  // errors 5, 3, 4 (RMS sqrt(50/3)); changes 1, 2, 3 (RMS sqrt(14/3)).
  const double inputs[] = {0.0, 1.0, 3.0, 6.0}, errors[] = {5.0, 5.0, 3.0, 4.0};
  for (int k = 0; k < 4; ++k) score.add(0, k, inputs[k], errors[k]);
  // Signal 1: a NaN input's change is passed over, its error is not.
  score.add(1, 1.0, 2.0, 0.5);
  score.add(1, 2.0, NAN, 0.5);
  score.add(1, 3.0, 4.0, 0.5);
  EXPECT_DOUBLE_EQ(score.error_rms(0), std::sqrt(50.0 / 3.0));
  EXPECT_DOUBLE_EQ(score.change_rms(0), std::sqrt(14.0 / 3.0));
  EXPECT_TRUE(score.predicts_worse_than_holding(0));
  EXPECT_DOUBLE_EQ(score.error_rms(1), 0.5);
  EXPECT_EQ(score.change_rms(1), 0.0);  // no change of two finite inputs
  EXPECT_TRUE(score.predicts_worse_than_holding(1));
}

TEST(PredictionScore, ABlockThatPredictsBetterThanHoldingIsNotNamed) {
  PredictionScore score(1, 0.0);
  for (int k = 0; k < 100; ++k) score.add(0, 0.01 * k, 0.1 * k, 0.01);
  EXPECT_NEAR(score.change_rms(0), 0.1, 1e-12);
  EXPECT_FALSE(score.predicts_worse_than_holding(0));
  // Nothing after the warm-up: nothing to say.
  PredictionScore late(1, 5.0);
  late.add(0, 1.0, 1.0, 9.0);
  EXPECT_EQ(late.error_rms(0), 0.0);
  EXPECT_FALSE(late.predicts_worse_than_holding(0));
}

TEST(PredictionScore, TheNoteSaysTheSignalBothRmsTheGainAndTheDoorsWayToTune) {
  EXPECT_EQ(unsuited_gain_note("'x'", 0.123456, 0.0456789, "20", "corvel-sim tune --input a.csv"),
            "the error output of 'x' (RMS 0.1235) is larger than its change from one sample to the next "
            "(RMS 0.04568): the block predicts it worse than repeating the last sample would, so gain 20 does not "
            "suit this recording. To find the gain and order: corvel-sim tune --input a.csv");
}

}  // namespace
}  // namespace corvel::sim
