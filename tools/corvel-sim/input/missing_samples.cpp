#include "input/missing_samples.h"

#include <cmath>
#include <deque>
#include <vector>

#include "common/errors.h"

namespace corvel::sim {

namespace {

class GapFilledRecord : public Record {
 public:
  GapFilledRecord(std::unique_ptr<Record> inner, MissingSamples how, bool as_keyword)
      : inner_(std::move(inner)), how_(how), as_keyword_(as_keyword), channels_(inner_->channels()) {
    shape_ = inner_->shape();
    restart_state();
  }
  void restart() override {
    inner_->restart();
    restart_state();
  }
  double next() override {
    ++handed_;
    if (!ahead_.empty()) {
      current_ = std::move(ahead_.front());
      ahead_.pop_front();
      buffered_ = true;
    } else {
      pull(&current_);
      buffered_ = false;
    }
    for (size_t c = 0; c < channels_; ++c) {
      double& v = current_.values[c];
      filled_[c] = 0;
      if (!std::isnan(v)) {
        last_sample_[c] = v;
        since_sample_[c] = 0;
        have_sample_[c] = 1;
        continue;
      }
      ++since_sample_[c];
      if (!buffered_) {  // looking ahead moves the record on: keep this row's place
        current_.where = inner_->where();
        buffered_ = true;
      }
      const size_t next = look_ahead_for(c);  // index into ahead_, or ahead_.size(): none
      const bool before = have_sample_[c] != 0;  // a sample came before the gap
      if (how_ == MissingSamples::kRefuse || (!before && next == ahead_.size())) {
        const size_t gap = next + 1;  // this row and the missing ones after it
        const std::string length = gap == 1 ? "a gap of one sample" : "the first of a gap of " + std::to_string(gap) + " samples";
        if (!before && next == ahead_.size()) {
          throw InputError(current_.where + ": " + signal(c) + " has no sample at all (every one is empty or NaN)");
        }
        throw InputError(current_.where + ": no sample of " + signal(c) + " (an empty cell or NaN), " + length +
                         ": fill gaps with " + choice("hold") + " (the last sample repeated) or " +
                         choice("interpolate") + " (a line between the samples around the gap), or keep NaN with " +
                         choice("keep"));
      }
      if (!before) {
        v = ahead_[next].values[c];  // the record's start: its first sample is all there is
      } else if (how_ == MissingSamples::kInterpolate && next < ahead_.size()) {
        const double a = last_sample_[c], b = ahead_[next].values[c];
        const double span = static_cast<double>(since_sample_[c] + next + 1);
        v = a + (b - a) * (static_cast<double>(since_sample_[c]) / span);
      } else {
        v = last_sample_[c];  // held, and at the record's end always
      }
      filled_[c] = 1;
    }
    return current_.values[0];
  }
  double value(size_t channel) const override { return current_.values[channel]; }
  bool filled(size_t channel) const override { return filled_[channel] != 0; }
  double time_stamp() const override { return current_.t; }
  void finish() override { inner_->finish(); }
  const Derivatives* truth() const override { return buffered_ ? nullptr : inner_->truth(); }
  std::string where() const override { return buffered_ ? current_.where : inner_->where(); }

 private:
  struct Row {
    std::vector<double> values;
    double t = 0.0;     // the time stamp, when the record has them
    std::string where;  // kept only for rows read ahead
  };

  void restart_state() {
    ahead_.clear();
    pulled_ = 0;
    current_.values.assign(channels_, 0.0);
    filled_.assign(channels_, 0);
    last_sample_.assign(channels_, 0.0);
    since_sample_.assign(channels_, 0);
    have_sample_.assign(channels_, 0);
    checked_.assign(channels_, 0);
    handed_ = 0;
    buffered_ = false;
  }

  void pull(Row* row) {
    row->values.resize(channels_);
    row->values[0] = inner_->next();
    for (size_t c = 1; c < channels_; ++c) row->values[c] = inner_->value(c);
    row->t = inner_->time_stamp();
    ++pulled_;
  }

  // The first row ahead whose signal `c` is a sample, reading on as needed;
  // ahead_.size() when the record ends first. Each row of a gap asks again:
  // the rows already found missing are not looked at twice, so that a gap
  // costs its length, not its length squared.
  size_t look_ahead_for(size_t c) {
    const size_t first = handed_;  // ahead_[0]'s place in the record
    for (size_t i = checked_[c] > first ? checked_[c] - first : 0;; ++i) {
      if (i == ahead_.size()) {
        if (pulled_ == count()) {
          checked_[c] = first + i;
          return i;
        }
        Row row;
        pull(&row);
        row.where = inner_->where();
        ahead_.push_back(std::move(row));
      }
      if (!std::isnan(ahead_[i].values[c])) {
        checked_[c] = first + i;
        return i;
      }
    }
  }

  std::string choice(const char* word) const {
    return as_keyword_ ? "missing='" + std::string(word) + "'" : "--missing " + std::string(word);
  }

  std::string signal(size_t c) const {
    const std::string& name = channels_ > 1 ? shape_.channel_names[c] : shape_.signal_name;
    return name.empty() ? std::string("the signal") : "'" + name + "'";
  }

  std::unique_ptr<Record> inner_;
  MissingSamples how_;
  bool as_keyword_;
  size_t channels_;
  std::deque<Row> ahead_;
  size_t pulled_ = 0;  // rows read from the record
  Row current_;
  bool buffered_ = false;  // the current row was read ahead: its place is in current_.where
  std::vector<unsigned char> filled_;
  std::vector<double> last_sample_;
  std::vector<size_t> since_sample_;  // rows since each signal's last sample (0: the current row is one)
  std::vector<unsigned char> have_sample_;
  size_t handed_ = 0;              // rows handed out, the current one included
  std::vector<size_t> checked_;    // per signal: the place of the first row not yet looked at ahead
};

}  // namespace

const char* missing_word(MissingSamples how) {
  switch (how) {
    case MissingSamples::kKeep: return "keep";
    case MissingSamples::kRefuse: return "refuse";
    case MissingSamples::kHold: return "hold";
    case MissingSamples::kInterpolate: return "interpolate";
  }
  return "";
}

bool read_missing_word(const std::string& word, MissingSamples* how) {
  for (const MissingSamples each :
       {MissingSamples::kKeep, MissingSamples::kRefuse, MissingSamples::kHold, MissingSamples::kInterpolate}) {
    if (word == missing_word(each)) {
      *how = each;
      return true;
    }
  }
  return false;
}

std::unique_ptr<Record> with_gaps_filled(std::unique_ptr<Record> record, MissingSamples how, bool as_keyword) {
  if (how == MissingSamples::kKeep) return record;
  return std::make_unique<GapFilledRecord>(std::move(record), how, as_keyword);
}

}  // namespace corvel::sim
