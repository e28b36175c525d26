#include <gtest/gtest.h>
#include <regex>

#include <sstream>
#include <string>
#include <vector>

#include "output/plot_text.h"
#include "output/run_plot.h"
#include "tune/tune_plot.h"

namespace corvel::sim {
namespace {

TEST(PlotText, TickLabelsAsAPersonWritesThem) {
  const std::vector<std::pair<double, std::string>> cases = {
      {1e9, "1e9"}, {2.5e-5, "2.5e-5"}, {-3e12, "-3e12"}, {1e-300, "1e-300"}, {100000, "100000"}, {0.25, "0.25"}, {0, "0"}};
  for (const auto& [x, text] : cases) EXPECT_EQ(tick_label(x), text) << x;
}

std::string figure(const PlotLabels& labels, bool filled_gap = false) {
  RunPlot plot(3, 0, 9, RunPlot::kSvgBins, 0.0, false, labels);
  const double d[3] = {1, 2, 3};
  for (size_t k = 0; k < 10; ++k) {
    LogRow row{0.001 * static_cast<double>(k), 1.0, 0.0, 1.0, d};
    row.filled = filled_gap && (k == 4 || k == 5);
    plot.add(k, row, nullptr);
  }
  std::ostringstream out;
  plot.write_svg(out, "title");
  return out.str();
}

TEST(RunPlotLabels, PanelsCarryTheUnitsOfTheSignalAndItsDerivatives) {
  PlotLabels labels;
  labels.unit = "mm";
  labels.time_unit = "ms";
  const std::string svg = figure(labels);
  for (const char* text : {">u and z0 (mm)<", ">error output (mm)<", ">d1 (mm/ms)<", ">d2 (mm/ms^2)<", ">d3 (mm/ms^3)<", ">t (ms);"}) {
    EXPECT_NE(svg.find(text), std::string::npos) << text;
  }
  EXPECT_NE(figure({}).find(">d2<"), std::string::npos);  // no unit known: none made up
  // A unit per time already takes the derivative's power on.
  labels = {"m/s^2", "s", {}};
  const std::string acceleration = figure(labels);
  for (const char* text : {">u and z0 (m/s^2)<", ">d1 (m/s^3)<", ">d3 (m/s^5)<"}) {
    EXPECT_NE(acceleration.find(text), std::string::npos) << text;
  }
  labels = {"km/h", "s", {}};
  EXPECT_NE(figure(labels).find(">d1 (km/h/s)<"), std::string::npos);
  labels = {"mm/s", "s", {}};
  EXPECT_NE(figure(labels).find(">d2 (mm/s^3)<"), std::string::npos);
}

TEST(RunPlotLabels, OnlyTheChosenPanelsAreDrawn) {
  PlotLabels labels;
  labels.panels = {"d2", "u"};
  const std::string svg = figure(labels);
  EXPECT_NE(svg.find(">u and z0<"), std::string::npos);
  EXPECT_NE(svg.find(">d2<"), std::string::npos);
  for (const char* gone : {">error output<", ">d1<", ">d3<"}) EXPECT_EQ(svg.find(gone), std::string::npos) << gone;
  // Two panels' height, not five.
  EXPECT_LT(svg.size(), figure({}).size());
  EXPECT_NE(svg.find("height='" + std::to_string(58 + 2 * (170 + 50) + 30) + "'"), std::string::npos);
}

TEST(RunPlotLabels, FilledGapsAreShadedAndSaid) {
  const std::string with = figure({}, true), without = figure({});
  EXPECT_NE(with.find("fill='#fbe3c4'"), std::string::npos);
  EXPECT_NE(with.find("orange: gaps in the record, filled"), std::string::npos);
  EXPECT_EQ(without.find("#fbe3c4"), std::string::npos);
  EXPECT_EQ(without.find("orange"), std::string::npos);
}


// The extremes of a tuning plot's RMS axis are labelled only where no
// decade's label sits on them.
TEST(TunePlot, NoLabelOverTheDecadesLabel) {
  const auto svg = [](double low, double high) {
    std::ostringstream out;
    write_tune_svg(out, {{1, {{1.0, low}, {10.0, high}}, 1.0, low}}, 1.0, "t");
    return out.str();
  };
  const std::string near = svg(0.0098, 1.02);  // both extremes a hair beyond a decade
  EXPECT_EQ(near.find(">1.02<"), std::string::npos);
  EXPECT_EQ(near.find(">0.0098<"), std::string::npos);
  EXPECT_NE(near.find(">0.01<"), std::string::npos);
  EXPECT_NE(near.find(">0.1<"), std::string::npos);
  const std::string apart = svg(0.03, 0.5);  // no decade near either
  EXPECT_NE(apart.find(">0.5<"), std::string::npos);
  EXPECT_NE(apart.find(">0.03<"), std::string::npos);
  EXPECT_NE(apart.find(">0.1<"), std::string::npos);
}


// No word of the figure is drawn inside a panel's frame, where the traces
// are: names, legends, ticks and captions all sit outside.
TEST(RunPlotLabels, NoTextInsideAPanelsFrame) {
  PlotLabels labels;
  labels.unit = "mm";
  const std::string svg = figure(labels, true);
  const std::regex frame("<rect x='([0-9.]+)' y='([0-9.]+)' width='([0-9.]+)' height='([0-9.]+)' fill='none'");
  const std::regex text("<text x='([0-9.]+)' y='([0-9.]+)'");
  struct Box {
    double x, y, w, h;
  };
  std::vector<Box> frames;
  for (std::sregex_iterator it(svg.begin(), svg.end(), frame), end; it != end; ++it) {
    frames.push_back({std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4])});
  }
  ASSERT_EQ(frames.size(), 5u);
  size_t texts = 0;
  for (std::sregex_iterator it(svg.begin(), svg.end(), text), end; it != end; ++it, ++texts) {
    const double x = std::stod((*it)[1]), y = std::stod((*it)[2]);
    for (const Box& b : frames) {
      EXPECT_FALSE(x > b.x && x < b.x + b.w && y > b.y && y < b.y + b.h) << (*it)[0];
    }
  }
  EXPECT_GT(texts, 20u);
}

}  // namespace
}  // namespace corvel::sim
