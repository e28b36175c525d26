#include "input/column_choice.h"

#include <algorithm>
#include <cmath>

#include "common/errors.h"
#include "common/number_text.h"

namespace corvel::sim {

namespace {

std::string quoted_list(const std::vector<std::string>& items) {
  std::string list;
  for (const std::string& item : items) list += (list.empty() ? "" : ", ") + item;
  return list;
}

}  // namespace

std::string ColumnTable::column_name(size_t column) const {
  if (column < names.size() && !names[column].empty()) return "'" + names[column] + "'";
  return "column " + std::to_string(column + 1);
}

size_t ColumnTable::index(const std::string& option, const std::string& text) const {
  double number = 0.0;
  if (read_number(text, &number) && number >= 1 && number <= static_cast<double>(columns) &&
      number == std::floor(number)) {
    return static_cast<size_t>(number) - 1;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == text) return i;
  }
  std::string there;
  if (names.empty()) {
    there = std::to_string(columns) + " unnamed column(s) (no header line): give a number from 1";
  } else {
    there = "columns " + quoted_list(names);
  }
  throw InputError(option + " " + text + ": " + source + " has no such column; it has " + there);
}

bool ColumnTable::is_column(const std::string& text) const {
  try {
    index("", text);
    return true;
  } catch (const InputError&) {
    return false;
  }
}

// The list --column gives: names and numbers, ranges of numbers, or "all"
// (filled in by the caller, which knows the time column). A whole text that
// is a column's name is that column, commas and dashes included.
std::vector<size_t> ColumnTable::signal_list(const std::string& text) const {
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == text) return {i};
  }
  std::vector<size_t> list;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    // A range is two columns (names or numbers) joined by a dash, where the
    // whole is not a column's name.
    size_t first = 0, last = 0;
    bool range = false;
    if (!is_column(item)) {
      for (size_t dash = item.find('-', 1); dash != std::string::npos && !range; dash = item.find('-', dash + 1)) {
        range = is_column(item.substr(0, dash)) && is_column(item.substr(dash + 1));
        if (range) {
          first = index("--column", item.substr(0, dash));
          last = index("--column", item.substr(dash + 1));
        }
      }
    }
    if (range) {
      if (first > last) throw UsageError("--column " + text + ": the range " + item + " runs backwards");
      for (size_t c = first; c <= last; ++c) list.push_back(c);
    } else {
      list.push_back(index("--column", item));
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return list;
}

ChosenColumns ColumnTable::choose(const ColumnChoice& choice) const {
  ChosenColumns chosen;
  const size_t n = columns;
  const bool all = choice.signal == "all" &&
                   std::find(names.begin(), names.end(), "all") == names.end();
  if (all) {
    chosen.signals.clear();
  } else if (!choice.signal.empty()) {
    chosen.signals = signal_list(choice.signal);
  } else if (n <= 2) {
    chosen.signals = {n - 1};
  } else {
    std::vector<std::string> numbered;
    for (size_t i = 0; i < n; ++i) numbered.push_back(std::to_string(i + 1) + (names.empty() ? "" : " " + names[i]));
    throw InputError(source + " has " + std::to_string(n) + " columns (" + quoted_list(numbered) +
                     "): choose the signal with --column NAME|N|LIST|all, and the time with --time-column NAME|N|none");
  }
  if (choice.time == "none") {
    chosen.time = -1;
  } else if (!choice.time.empty()) {
    chosen.time = static_cast<long>(index("--time-column", choice.time));
  } else {
    // The first column is the time when the signal is another one, and
    // always for a list (which cannot then name it).
    chosen.time = n >= 2 && (chosen.signals.size() != 1 || chosen.signals[0] != 0) ? 0 : -1;
  }
  if (all) {
    for (size_t c = 0; c < n; ++c) {
      if (static_cast<long>(c) != chosen.time) chosen.signals.push_back(c);
    }
    if (chosen.signals.empty()) throw UsageError("--column all: " + source + " has no column but the time");
  }
  if (chosen.signals.size() > kMostSignals) {
    throw UsageError("--column " + choice.signal + ": " + std::to_string(chosen.signals.size()) +
                     " columns, more than the " + std::to_string(kMostSignals) + " one run takes");
  }
  for (size_t i = 0; i < chosen.signals.size(); ++i) {
    const size_t column = chosen.signals[i];
    if (std::find(chosen.signals.begin(), chosen.signals.begin() + static_cast<long>(i), column) !=
        chosen.signals.begin() + static_cast<long>(i)) {
      const bool named = column < names.size() && !names[column].empty();
      throw UsageError("--column " + choice.signal + ": column " + std::to_string(column + 1) +
                       (named ? " ('" + names[column] + "')" : "") + " is chosen twice");
    }
    if (static_cast<long>(column) == chosen.time) {
      if (chosen.signals.size() == 1) {
        throw InputError(source + ": the signal and the time cannot both be " + column_name(column));
      }
      throw UsageError("--column " + choice.signal + " names the time column " + column_name(column) +
                       " (--time-column none reads every column as a signal)");
    }
  }
  return chosen;
}

}  // namespace corvel::sim
