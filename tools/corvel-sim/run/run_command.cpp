#include "run/run_command.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/file_kinds.h"
#include "common/number_text.h"
#include "common/progress.h"
#include "host/mex_module.h"
#include "input/missing_samples.h"
#include "input/record.h"
#include "output/dygraphs_assets.h"
#include "output/error_table.h"
#include "output/figure_names.h"
#include "output/figure_render.h"
#include "output/log_writer.h"
#include "output/mat_log_writer.h"
#include "output/output_file.h"
#include "output/run_plot.h"
#include "run/sample_span.h"
#include "run/prediction_score.h"
#include "run/simulate.h"

namespace corvel::sim {

namespace {

void say(const std::string& note) { std::cerr << "corvel-sim: " << note << '\n'; }

// The files the command line names: the input and every output (each
// signal's plot, when a record has several).
void refuse_shared_files_of(const RunDescription& o, const std::vector<std::string>& plots) {
  std::vector<NamedPath> inputs, outputs;
  if (!o.input.empty()) inputs.push_back({"--input", o.input});
  if (!o.mex.empty()) inputs.push_back({"--mex", o.mex});
  outputs.push_back({"--out", o.out});
  for (const std::string& plot : plots) outputs.push_back({"--plot", plot});
  if (!o.trace.empty() && o.trace != "-") outputs.push_back({"--trace", o.trace});
  refuse_shared_files(inputs, outputs);
}

// Each signal's plot when a record has several; a page holds them all.
std::vector<std::string> plot_paths(const std::string& plot, const std::vector<std::string>& channels, bool html) {
  if (plot.empty()) return {};
  if (channels.empty() || html) return {plot};
  return figure_paths(plot, channels);
}

}  // namespace

RunReport run_recording(const RunDescription& options, const CommitCheck& before_placing) {
  refuse_shared_files_of(options, plot_paths(options.plot, {}, false));
  if (!options.plot.empty()) refuse_unwritable_figure(options.plot, "--plot");
  const bool html = is_html_path(options.plot);
  const DygraphsAssets assets = html ? dygraphs_assets() : DygraphsAssets{};
  // Every output is opened first: a folder that cannot be written ends the
  // run before anything is read.
  refuse_unfit_log_output(options.out);
  OutputSet outputs;
  OutputFile& log_file = outputs.open(options.out, "log");
  const bool tracing = !options.trace.empty();
  OutputFile* trace_file = tracing && options.trace != "-" ? &outputs.open(options.trace, "call trace") : nullptr;
  // A plot's name waits for the record when it has several signals.
  const bool one_signal = options.column != "all" && options.column.find_first_of(",-") == std::string::npos &&
                          options.variable.find(',') == std::string::npos;
  std::vector<OutputFile*> plot_files;
  if (!options.plot.empty() && one_signal) plot_files.push_back(&outputs.open(options.plot, "plot"));

  const std::unique_ptr<Record> record = open_record(options);
  const std::vector<std::string>& channels = record->shape().channel_names;
  if (html && record->channels() > RunPlot::kPageSections) {
    throw UsageError("--plot " + options.plot + ": a page of " + std::to_string(record->channels()) +
                     " columns is more than a browser shows (at most " + std::to_string(RunPlot::kPageSections) +
                     "): choose fewer with --column, or write a figure for each with --plot NAME.svg");
  }
  if (!options.plot.empty() && plot_files.empty()) {
    const std::vector<std::string> plots = plot_paths(options.plot, channels, html);
    refuse_shared_files_of(options, plots);
    for (const std::string& plot : plots) plot_files.push_back(&outputs.open(plot, "plot"));
  }
  if (!plot_files.empty() && plot_files.size() != (html ? 1 : record->channels())) {
    throw std::logic_error("a plot file for each signal was not opened");
  }
  // A panel past the block's order would be an empty figure.
  for (const std::string& panel : options.plot_panels) {
    if (panel[0] == 'd' && std::isfinite(options.order) && std::stoi(panel.substr(1)) > options.order) {
      throw UsageError("--plot-panels: " + panel + " is past the order " + number_text(options.order) +
                       " (d1 to d" + number_text(std::floor(options.order)) + ")");
    }
  }
  std::vector<std::string> notes = record->notes();
  const RunShape shape = plan_run(options, *record, &notes);
  refuse_warmup_past_end(options.warmup, shape.first_t, shape.last_t);
  const double warmup_ends = warmup_end(options.warmup, shape.first_t, shape.last_t);
  // Each block's plot spans its own sample hits.
  std::vector<SampleSpan> plotted;
  for (size_t c = 0; c < record->channels(); ++c) {
    const size_t rows = shape.rows_of[c];
    plotted.push_back({0, rows == 0 ? 0 : rows - 1});
    if (options.plot_window_start < options.plot_window_end) {
      const double period = record->step() * static_cast<double>(shape.every_of[c]);
      plotted[c] = samples_within(shape.first_t, period, rows, options.plot_window_start, options.plot_window_end,
                                  "--plot-window", record->description());
    }
  }
  for (const std::string& note : notes) say(note);
  if (const std::string warning = gain_warning(options.gain, "--gain "); !warning.empty()) say("warning: " + warning);
  corvel::host::MexModule mex(options.mex.empty() ? default_mex_path() : options.mex);

  const bool truth = record->truth() != nullptr;
  std::unique_ptr<LogWriter> log;
  std::unique_ptr<ErrorTable> errors;
  std::vector<std::unique_ptr<RunPlot>> plots;
  int order = 0;
  size_t rows = 0;
  long last_step = -1;
  std::vector<size_t> hits(record->channels(), 0);  // each block's rows so far
  // Each block's error output after the warm-up, for the report.
  PredictionScore score(record->channels(), warmup_ends);
  std::vector<size_t> filled(record->channels(), 0);
  LogStyle log_style;
  log_style.filled_column = options.missing == MissingSamples::kHold || options.missing == MissingSamples::kInterpolate;
  log_style.decimal_comma = options.decimal_comma;
  log_style.run = {options.gain, options.order, options.step, record->step(), record->description(),
                   options.input.empty() ? "" : !options.variable.empty() ? options.variable : options.column,
                   record->shape().units, record->shape().time_unit, missing_word(options.missing)};
  log_style.columns = options.log_columns;
  log_style.own_thread = options.helper_threads;
  // Chosen log columns are checked against the log's names before anything
  // runs, for an order the block takes (one it refuses is its own to report).
  const bool order_taken = options.order >= 1 && options.order <= 10 && options.order == std::floor(options.order);
  if (!options.log_columns.empty() && order_taken) {
    const std::string problem = log_columns_problem(
        options.log_columns, log_column_names(static_cast<int>(options.order), channels, log_style.filled_column));
    if (!problem.empty()) throw UsageError("--log-columns: " + problem);
  }
  // A MAT log too large for its format is refused now, not after the run.
  if (is_mat_path(options.out) && order_taken) {
    refuse_mat_log_past_limit(options.out, shape.rows, shape.rows_of, static_cast<int>(options.order), channels,
                              shape.multirate(), log_style);
  }
  ProgressBar progress("samples", options.progress && ProgressBar::terminal_watching());
  const long expected = static_cast<long>(shape.rows);
  // The call trace streams into its file (or standard error) as the calls
  // return: a long run's trace takes no memory.
  bool trace_failed = false;  // its own write failed the run: that is the news, not that it is not kept
  const std::function<void(const std::string&)> trace_line = [&](const std::string& line) {
    if (trace_file != nullptr) {
      trace_failed = true;
      trace_file->write(line.data(), line.size());
      trace_file->write("\n", 1);
      trace_failed = false;
    } else {
      std::cerr << line << '\n';
    }
  };
  try {
    simulate(
        mex.entry(), options, *record,
        [&](const LogRow& row, int width, const Derivatives* sample_truth) {
          if (!log) {  // the output's width is the block's order, known from the first row
            order = width;
            log = make_log_writer(log_file, order, channels, shape.multirate(), log_style);
            if (truth) errors = std::make_unique<ErrorTable>(order, warmup_ends);
            // A page of many signals keeps its size by fewer bins for each.
            const size_t bins = html ? RunPlot::page_bins(record->channels()) : RunPlot::kSvgBins;
            for (size_t p = 0; p < record->channels() && !plot_files.empty(); ++p) {
              PlotLabels labels;
              labels.unit = p < record->shape().units.size() ? record->shape().units[p] : "";
              labels.time_unit = record->shape().time_unit;
              labels.panels = options.plot_panels;
              plots.push_back(std::make_unique<RunPlot>(order, plotted[p].first, plotted[p].last, bins, warmup_ends,
                                                        truth, labels));
            }
          }
          log->row(row);
          if (errors && sample_truth != nullptr) errors->add(row.t, row.estimate, row.derivatives, *sample_truth);
          if (!plots.empty()) plots[row.channel]->add(hits[row.channel], row, sample_truth);
          ++hits[row.channel];
          if (row.filled) ++filled[row.channel];
          score.add(row.channel, row.t, row.u, row.error);
          if (row.step == last_step) return;  // another signal of a row already counted
          last_step = row.step;
          if ((++rows & 0xfff) == 0) progress.update(static_cast<long>(rows), expected);
        },
        [&](const FirstNonFinite& first) {
          const std::string signal = channels.empty() ? "" : " ('" + channels[first.channel] + "')";
          const std::string text = non_finite_warning(first, signal);
          if (options.strict) throw InputError(text + " (--strict)");
          progress.finish();
          say("warning: " + text);
        },
        tracing ? trace_line : nullptr);
  } catch (...) {
    progress.finish();
    if (trace_file != nullptr && !trace_failed) say("the call trace is not kept for a failed run (--trace - prints it on standard error)");
    throw;
  }
  progress.finish();

  // A run with no rows still leaves its header.
  if (!log) log = make_log_writer(log_file, 0, channels, shape.multirate(), log_style);
  log->finish();
  const auto title = [&](const std::string& name) {
    return "corvel: " + record->description() + (name.empty() ? "" : " [" + name + "]") + ", order " +
           std::to_string(order) + ", gain " + number_text(options.gain);
  };
  if (html && !plots.empty()) {
    std::ostringstream text;
    std::vector<const RunPlot*> pages;
    for (const auto& plot : plots) pages.push_back(plot.get());
    RunPlot::write_html_page(text, title(channels.empty() ? record->signal_name() : ""), pages, channels,
                             assets.script, assets.style);
    plot_files[0]->write(text.str().data(), text.str().size());
  }
  for (size_t p = 0; p < plots.size() && !html; ++p) {
    std::ostringstream text;
    std::string name = channels.empty() ? record->signal_name() : channels[p];
    // Blocks of several rates: each figure says its block's own.
    const std::string rate = shape.multirate() ? ", sample time " + number_text(block_step(options, p)) + " s" : "";
    plots[p]->write_svg(text, title(name) + rate);
    write_figure(*plot_files[p], text.str());
  }
  outputs.commit(before_placing);

  RunReport report;
  report.description = record->description();
  report.rows = rows;
  report.order = order;
  report.multirate = shape.multirate();
  for (size_t c = 0; c < record->channels(); ++c) {
    SignalReport signal;
    signal.name = channels.empty() ? record->signal_name() : channels[c];
    signal.rows = hits[c];
    signal.error_rms = score.error_rms(c);
    signal.filled = filled[c];
    signal.change_rms = score.change_rms(c);
    signal.worse_than_holding = score.predicts_worse_than_holding(c);
    report.signals.push_back(signal);
  }
  report.log = options.out;
  for (const OutputFile* plot : plot_files) report.plots.push_back(plot->path());
  report.outputs.push_back(options.out);
  report.outputs.insert(report.outputs.end(), report.plots.begin(), report.plots.end());
  if (trace_file != nullptr) report.outputs.push_back(options.trace);
  if (errors) {
    report.errors = errors->rows();
    report.errors_from = errors->from();
  }
  return report;
}

int run_command(const SimOptions& options) {
  const RunReport r = run_recording(options);
  // With the log or a plot on standard output, what corvel-sim says goes to
  // standard error, never into the data.
  bool data_on_stdout = is_standard_output(options.out);
  for (const std::string& plot : r.plots) data_on_stdout = data_on_stdout || is_standard_output(plot);
  std::ostream& out = data_on_stdout ? std::cerr : std::cout;
  out << "corvel-sim: " << r.rows << " samples of " << r.description;
  if (r.signals.size() > 1) {
    out << " (" << r.signals.size() << " columns, a block each" << (r.multirate ? " at its own rate" : "") << ")";
  }
  out << ", order " << r.order << ", log in " << r.log;
  for (size_t p = 0; p < r.plots.size(); ++p) {
    out << (p == 0 ? ", plot in " : ", ") << r.plots[p];
    if (p == 2 && r.plots.size() > 4) {
      out << " and " << r.plots.size() - 3 << " more";
      break;
    }
  }
  out << '\n';
  if (!r.errors.empty()) print_error_table(out, r.errors, r.errors_from);
  for (const SignalReport& signal : r.signals) {
    const std::string name = signal.name.empty() ? r.description : "'" + signal.name + "'";
    if (signal.filled > 0) {
      out << "corvel-sim: " << signal.filled << " of the " << signal.rows << " inputs of " << name
          << " fill gaps (--missing " << missing_word(options.missing) << "): marked in the log (filled)"
          << (r.plots.empty() ? "" : " and shaded in the figure") << '\n';
    }
  }
  // A recording has no true derivatives to score the gain by; but an error
  // output (the one-step prediction error) larger than the input's own change
  // from one sample to the next predicts worse than holding the last sample
  // would: the estimates lag the signal (a gain too low) or follow its
  // noise (too high).
  for (const SignalReport& signal : r.signals) {
    if (!r.errors.empty() || !signal.worse_than_holding) continue;
    const std::string name = signal.name.empty() ? r.description : "'" + signal.name + "'";
    out << "corvel-sim: note: "
        << unsuited_gain_note(name, signal.error_rms, signal.change_rms, number_text(options.gain),
                              tune_command_line(options))
        << '\n';
    break;
  }
  return 0;
}

}  // namespace corvel::sim
