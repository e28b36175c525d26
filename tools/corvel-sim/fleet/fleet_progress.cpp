#include "fleet/fleet_progress.h"

#include <algorithm>
#include <cmath>

#include "common/progress.h"

namespace corvel::sim {

namespace {

// A duration for a person: 4.2 s, 42 s, 3 min 05 s, 2 h 10 min.
std::string duration_text(double seconds) {
  seconds = std::max(0.0, seconds);
  const long s = std::lround(seconds);
  char text[48];
  if (seconds < 9.95) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  } else if (s < 60) {
    std::snprintf(text, sizeof text, "%ld s", s);
  } else if (s < 3600) {
    std::snprintf(text, sizeof text, "%ld min %02ld s", s / 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld h %02ld min", s / 3600, s / 60 % 60);
  }
  return text;
}

}  // namespace

FleetProgress::FleetProgress(size_t total, Shown shown, std::FILE* stream)
    : total_(total), shown_(total == 0 ? Shown::kNot : shown), stream_(stream),
      start_(std::chrono::steady_clock::now()), last_(start_) {}

FleetProgress::Shown FleetProgress::for_standard_error(bool quiet) {
  if (quiet) return Shown::kNot;
  return ProgressBar::terminal_watching() ? Shown::kInPlace : Shown::kLines;
}

std::string FleetProgress::line(double seconds) const {
  char text[160];
  const int n = std::snprintf(text, sizeof text, "corvel-sim: %zu/%zu recordings, %zu failed", ended_, total_, failed_);
  std::string out(text, static_cast<size_t>(n));
  if (seconds > 0.0 && samples_ > 0.0) {
    std::snprintf(text, sizeof text, ", %.3g samples/s", samples_ / seconds);
    out += text;
  }
  if (ended_ == total_) {
    out += ", in " + duration_text(seconds);
  } else if (ended_ > 0) {
    out += ", " + duration_text(seconds / static_cast<double>(ended_) * static_cast<double>(total_ - ended_)) + " left";
  }
  return out;
}

void FleetProgress::recording_ended(bool failed, double samples) {
  ++ended_;
  if (failed) ++failed_;
  samples_ += samples;
  // In place, each recording's end is shown at once; lines keep their pace.
  if (shown_ == Shown::kInPlace) show(false);
  else tick();
}

void FleetProgress::tick() {
  if (shown_ == Shown::kNot) return;
  const auto now = std::chrono::steady_clock::now();
  const auto every = shown_ == Shown::kInPlace ? std::chrono::milliseconds(500) : std::chrono::milliseconds(10000);
  if (now - last_ >= every) show(false);
}

void FleetProgress::finish() {
  if (shown_ == Shown::kNot) return;
  // In place, a line that already shows the end needs only its line end.
  if (shown_ == Shown::kInPlace && shown_ended_ == total_) {
    std::fputc('\n', stream_);
    std::fflush(stream_);
    return;
  }
  show(true);
}

void FleetProgress::show(bool last) {
  const auto now = std::chrono::steady_clock::now();
  last_ = now;
  const std::string text = line(std::chrono::duration<double>(now - start_).count());
  if (shown_ == Shown::kInPlace) {
    // Spaces over what a longer line before left.
    const size_t pad = shown_width_ > text.size() ? shown_width_ - text.size() : 0;
    std::fprintf(stream_, "\r%s%s%s", text.c_str(), std::string(pad, ' ').c_str(), last ? "\n" : "");
    shown_width_ = text.size();
    shown_ended_ = ended_;
  } else {
    std::fprintf(stream_, "%s\n", text.c_str());
  }
  std::fflush(stream_);
}

}  // namespace corvel::sim
