#include "run/run_command.h"

#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/number_text.h"
#include "common/progress.h"
#include "host/mex_module.h"
#include "input/record.h"
#include "output/dygraphs_assets.h"
#include "output/error_table.h"
#include "output/log_writer.h"
#include "output/output_file.h"
#include "output/run_plot.h"
#include "run/sample_span.h"
#include "run/simulate.h"

namespace corvel::sim {

namespace {

void say(const std::string& note) { std::cerr << "corvel-sim: " << note << '\n'; }

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The files the command line names: the input and every output.
void refuse_shared_files_of(const SimOptions& o) {
  std::vector<NamedPath> inputs, outputs;
  if (!o.input.empty()) inputs.push_back({"--input", o.input});
  if (!o.mex.empty()) inputs.push_back({"--mex", o.mex});
  outputs.push_back({"--out", o.out});
  if (!o.plot.empty()) outputs.push_back({"--plot", o.plot});
  if (!o.trace.empty() && o.trace != "-") outputs.push_back({"--trace", o.trace});
  refuse_shared_files(inputs, outputs);
}

}  // namespace

int run_command(const SimOptions& options) {
  refuse_shared_files_of(options);
  const bool html = ends_with(options.plot, ".html") || ends_with(options.plot, ".htm");
  const DygraphsAssets assets = html ? dygraphs_assets() : DygraphsAssets{};
  // Every output is opened first: a folder that cannot be written ends the
  // run before anything is read.
  refuse_unfit_log_output(options.out);
  OutputSet outputs;
  OutputFile& log_file = outputs.open(options.out, "log");
  OutputFile* plot_file = options.plot.empty() ? nullptr : &outputs.open(options.plot, "plot");
  const bool tracing = !options.trace.empty();
  OutputFile* trace_file = tracing && options.trace != "-" ? &outputs.open(options.trace, "call trace") : nullptr;

  const std::unique_ptr<Record> record = open_record(options);
  std::vector<std::string> notes = record->notes();
  const RunShape shape = plan_run(options, *record, &notes);
  refuse_warmup_past_end(options.warmup, shape.first_t, shape.last_t);
  const double warmup_ends = warmup_end(options.warmup, shape.first_t, shape.last_t);
  SampleSpan plotted{0, shape.rows == 0 ? 0 : shape.rows - 1};
  if (options.plot_window_start < options.plot_window_end) {
    const double period = shape.rows > 1 ? (shape.last_t - shape.first_t) / static_cast<double>(shape.rows - 1) : 1.0;
    plotted = samples_within(shape.first_t, period, shape.rows, options.plot_window_start, options.plot_window_end,
                             "--plot-window", record->description());
  }
  for (const std::string& note : notes) say(note);
  corvel::host::MexModule mex(options.mex.empty() ? default_mex_path() : options.mex);

  const bool truth = record->truth() != nullptr;
  std::unique_ptr<LogWriter> log;
  std::unique_ptr<ErrorTable> errors;
  std::unique_ptr<RunPlot> plot;
  int order = 0;
  size_t rows = 0;
  ProgressBar progress("samples", ProgressBar::terminal_watching());
  const long expected = static_cast<long>(shape.rows);
  std::vector<std::string> trace;
  try {
    simulate(
        mex.entry(), options, *record,
        [&](const LogRow& row, int width, const Derivatives* sample_truth) {
          if (!log) {  // the output's width is the block's order, known from the first row
            order = width;
            log = make_log_writer(log_file, order);
            if (truth) errors = std::make_unique<ErrorTable>(order, warmup_ends);
            if (plot_file != nullptr) {
              plot = std::make_unique<RunPlot>(order, plotted.first, plotted.last,
                                               html ? RunPlot::kHtmlBins : RunPlot::kSvgBins, warmup_ends, truth);
            }
          }
          log->row(row);
          if (errors && sample_truth != nullptr) errors->add(row.t, row.estimate, row.derivatives, *sample_truth);
          if (plot) plot->add(rows, row, sample_truth);
          if ((++rows & 0xfff) == 0) progress.update(static_cast<long>(rows), expected);
        },
        [&](const FirstNonFinite& first) {
          const std::string text = first.where + " (t = " + number_text(first.t) + " s): the input is " +
                                   number_text(first.u) + "; every estimate from there on is NaN";
          if (options.strict) throw InputError(text + " (--strict)");
          progress.finish();
          say("warning: " + text);
        },
        tracing ? &trace : nullptr);
  } catch (...) {
    progress.finish();
    if (options.trace == "-") {
      for (const auto& line : trace) std::cerr << line << '\n';
    } else if (tracing) {
      say("the call trace is not kept for a failed run (--trace - prints it on standard error)");
    }
    throw;
  }
  progress.finish();

  if (!log) log = make_log_writer(log_file, 0);  // a run with no rows still leaves its header
  log->finish();
  if (plot) {
    std::ostringstream text;
    const std::string title = "corvel: " + record->description() +
                              (record->signal_name().empty() ? "" : " [" + record->signal_name() + "]") +
                              ", order " + std::to_string(order) + ", gain " + number_text(options.gain);
    if (html) {
      plot->write_html(text, title, assets.script, assets.style);
    } else {
      plot->write_svg(text, title);
    }
    plot_file->write(text.str().data(), text.str().size());
  }
  if (tracing) {
    std::string text;
    for (const auto& line : trace) text += line + '\n';
    if (trace_file != nullptr) {
      trace_file->write(text.data(), text.size());
    } else {
      std::cerr << text;
    }
  }
  outputs.commit();

  std::cout << "corvel-sim: " << rows << " samples of " << record->description() << ", order " << order
            << ", log in " << options.out;
  if (plot) std::cout << ", plot in " << options.plot;
  std::cout << '\n';
  if (errors) print_error_table(std::cout, errors->rows(), errors->from());
  return 0;
}

}  // namespace corvel::sim
