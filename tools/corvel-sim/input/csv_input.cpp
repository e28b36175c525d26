#include "input/csv_input.h"

#include "common/text_encoding.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

#include "common/number_text.h"

namespace corvel::sim {

namespace {

constexpr size_t kFirstChunk = 1 << 12;  // grows while the file goes on, to kChunk
constexpr size_t kChunk = 1 << 20;
constexpr size_t kLongestLine = 1 << 20;

bool is_blank(char c, char delimiter) { return c == ' ' || c == '\r' || (c == '\t' && delimiter != '\t'); }

}  // namespace

void split_fields(std::string_view line, char delimiter, std::vector<std::string_view>* fields) {
  fields->clear();
  size_t start = 0;
  while (true) {
    const size_t stop = line.find(delimiter, start);
    std::string_view field = line.substr(start, stop == std::string_view::npos ? std::string_view::npos : stop - start);
    while (!field.empty() && is_blank(field.front(), delimiter)) field.remove_prefix(1);
    while (!field.empty() && is_blank(field.back(), delimiter)) field.remove_suffix(1);
    fields->push_back(field);
    if (stop == std::string_view::npos) break;
    start = stop + 1;
  }
}

std::string CsvLayout::column_name(size_t column) const {
  return ColumnTable{names, columns, ""}.column_name(column);
}

CsvReader::CsvReader(std::unique_ptr<std::istream> in, std::string name, const ColumnChoice& choice,
                     bool decimal_comma)
    : in_(std::move(in)), name_(std::move(name)), buffer_(kFirstChunk) {
  std::string_view first;
  if (!next_content(&first)) throw InputError(name_ + ": no samples");
  // UTF-16 text (a spreadsheet's "Unicode text"): its byte-order mark, or
  // the zero bytes between its ASCII characters, said as what they are.
  const bool mark = first.size() >= 2 && ((first[0] == '\xFF' && first[1] == '\xFE') ||
                                          (first[0] == '\xFE' && first[1] == '\xFF'));
  if (mark || first.find('\0') != std::string_view::npos) {
    throw InputError(name_ + ": this is UTF-16 text, not CSV; save it as CSV (UTF-8) or plain text, one byte a character");
  }
  first_line_number_ = line_number_;
  // The delimiter: ';' or a tab, whichever the first line uses more, where it
  // has either (a comma there may be a decimal comma: 0,001;12,50); else ','
  // where it has one; a lone column has none. Tabs that only pad fields a
  // comma separates (0,<tab>1) are no delimiter.
  size_t best = 0;
  for (const char d : {';', '\t', ','}) {
    if (d == ',' && (best > 0 || decimal_comma)) break;
    const auto count = static_cast<size_t>(std::count(first.begin(), first.end(), d));
    if (d == '\t' && count > 0 && !decimal_comma) {
      split_fields(first, '\t', &fields_);
      const bool padding = std::any_of(fields_.begin(), fields_.end(), [](std::string_view f) {
        return !f.empty() && (f.front() == ',' || f.back() == ',');
      });
      if (padding) continue;
    }
    if (count > best) {
      best = count;
      layout_.delimiter = d;
    }
  }
  if (decimal_comma && best == 0) layout_.delimiter = ';';
  if (decimal_comma) {
    decimal_ = DecimalSign::kComma;
    decimal_evidence_ = "the run says";
  }
  split_fields(first, layout_.delimiter, &fields_);
  layout_.columns = fields_.size();
  bool any_number = false;
  for (std::string_view field : fields_) {
    double v = 0.0;
    if (read_field(field, &v)) any_number = true;
  }
  if (!any_number) {
    // A header in a Windows code page (a spreadsheet's "ANSI" export) is read
    // as Windows-1252: its names go into figures, pages and logs, which must
    // be UTF-8.
    layout_.header_recoded = !is_utf8(first);
    for (std::string_view field : fields_) {
      layout_.names.push_back(layout_.header_recoded ? windows_1252_as_utf8(field) : std::string(field));
    }
    find_units();
  } else {
    first_line_.assign(first);
    pending_first_ = true;
  }
  layout_.units.resize(layout_.columns);
  choose_columns(choice);
}

namespace {

// "Position [mm]" or "Force (N)": the unit in the name's last brackets.
std::string unit_in_name(const std::string& name) {
  if (name.size() < 3) return "";
  const char close = name.back();
  const char open = close == ']' ? '[' : close == ')' ? '(' : '\0';
  const size_t at = open == '\0' ? std::string::npos : name.rfind(open);
  if (at == std::string::npos || at + 2 >= name.size()) return "";
  return name.substr(at + 1, name.size() - at - 2);
}

}  // namespace

void CsvReader::find_units() {
  for (const std::string& name : layout_.names) layout_.units.push_back(unit_in_name(name));
  // A units row (s;mm;N under the names): no field a number, one at least
  // not empty, as many fields as the header.
  std::string_view second;
  if (next_content(&second)) {
    split_fields(second, layout_.delimiter, &fields_);
    bool number = false, words = false;
    for (const std::string_view field : fields_) {
      double v = 0.0;
      number = number || read_field(field, &v);
      words = words || !field.empty();
    }
    if (!number && words && fields_.size() == layout_.columns) {
      layout_.units_row = true;
      for (size_t i = 0; i < fields_.size(); ++i) {
        const std::string unit = layout_.header_recoded || !is_utf8(fields_[i]) ? windows_1252_as_utf8(fields_[i])
                                                                                : std::string(fields_[i]);
        if (!unit.empty()) layout_.units[i] = unit;
      }
    }
  }
  rewind();
}

namespace {

// What a field shows of its file's decimal sign: nothing (no sign, or not a
// number's shape), a point or a comma, or a sign that could as well be a
// thousands separator (1,000 or 12.500: a group of three digits after one to
// three digits, not led by a zero).
enum class SignShown { kNone, kPoint, kComma, kEither };

SignShown sign_shown(std::string_view f) {
  if (!f.empty() && (f[0] == '-' || f[0] == '+')) f.remove_prefix(1);
  const size_t at = f.find_first_of(",.");
  if (at == std::string_view::npos || f.find_first_of(",.", at + 1) != std::string_view::npos) return SignShown::kNone;
  const auto digits = [](std::string_view part) {
    size_t n = 0;
    while (n < part.size() && part[n] >= '0' && part[n] <= '9') ++n;
    return n;
  };
  const std::string_view head = f.substr(0, at), tail = f.substr(at + 1);
  const size_t tail_digits = digits(tail);
  if (digits(head) != head.size() || tail_digits == 0) return SignShown::kNone;
  if (!head.empty() && head.size() <= 3 && head[0] != '0' && tail.size() == 3 && tail_digits == 3) {
    return SignShown::kEither;
  }
  return f[at] == '.' ? SignShown::kPoint : SignShown::kComma;
}

}  // namespace

void CsvReader::learn_decimal_sign(long line) {
  for (const std::string_view field : fields_) {
    const SignShown shown = sign_shown(field);
    double v = 0.0;
    if ((shown != SignShown::kPoint && shown != SignShown::kComma) || !read_field(field, &v)) continue;
    decimal_ = shown == SignShown::kPoint ? DecimalSign::kPoint : DecimalSign::kComma;
    decimal_evidence_ = "'" + std::string(field) + "' on line " + std::to_string(line);
    return;
  }
}

bool CsvReader::read_sample(std::string_view field, double* value, std::string* hint) {
  if (layout_.delimiter == ',') return read_number(field, value);
  const SignShown shown = sign_shown(field);
  const bool comma = field.find(',') != std::string_view::npos;
  if (shown == SignShown::kEither && decimal_ == DecimalSign::kUnknown) {
    *hint = " (a thousands separator or a decimal sign? No number before it in the file says which it writes: "
            "write it without a thousands separator, or with more or fewer than three decimals)";
    return false;
  }
  if (comma && decimal_ == DecimalSign::kPoint) {
    *hint = " (this file writes decimal points, as " + decimal_evidence_ + "; thousands separators are not read)";
    return false;
  }
  if (!comma && shown == SignShown::kEither && decimal_ == DecimalSign::kComma) {
    *hint = " (this file writes decimal commas, as " + decimal_evidence_ + "; thousands separators are not read)";
    return false;
  }
  return read_field(field, value);
}

bool CsvReader::read_field(std::string_view field, double* value) {
  if (read_number(field, value)) return true;
  if (layout_.delimiter == ',' || field.find(',') == std::string_view::npos || field.find('.') != std::string_view::npos) {
    return false;
  }
  char text[64];
  if (field.size() >= sizeof text) return false;
  for (size_t i = 0; i < field.size(); ++i) text[i] = field[i] == ',' ? '.' : field[i];
  return read_number(std::string_view(text, field.size()), value);
}

void CsvReader::choose_columns(const ColumnChoice& choice) {
  const ChosenColumns chosen = ColumnTable{layout_.names, layout_.columns, name_}.choose(choice);
  layout_.signals = chosen.signals;
  layout_.time = chosen.time;
  signals_.resize(layout_.signals.size());
}

bool CsvReader::next_line(std::string_view* line) {
  while (true) {
    const char* start = buffer_.data() + begin_;
    const void* newline = std::memchr(start, '\n', end_ - begin_);
    if (newline != nullptr) {
      const auto length = static_cast<size_t>(static_cast<const char*>(newline) - start);
      *line = std::string_view(start, length);
      begin_ += length + 1;
      break;
    }
    if (eof_) {
      if (begin_ == end_) return false;
      *line = std::string_view(start, end_ - begin_);  // a last line without its line end
      begin_ = end_;
      break;
    }
    // Keep the partial line and read more behind it.
    std::memmove(buffer_.data(), start, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    if (end_ == buffer_.size() || buffer_.size() < kChunk) {
      if (end_ == buffer_.size() && buffer_.size() >= kLongestLine) {
        throw InputError(name_ + ":" + std::to_string(line_number_ + 1) + ": a line of more than " +
                         std::to_string(kLongestLine) + " bytes");
      }
      buffer_.resize(buffer_.size() * 2);
    }
    in_->read(buffer_.data() + end_, static_cast<std::streamsize>(buffer_.size() - end_));
    end_ += static_cast<size_t>(in_->gcount());
    if (!*in_) {
      if (in_->bad()) throw InputError(name_ + ": reading the file failed");
      eof_ = true;
    }
  }
  ++line_number_;
  if (line_number_ == 1 && line->substr(0, 3) == "\xEF\xBB\xBF") line->remove_prefix(3);
  if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
  return true;
}

bool CsvReader::next_content(std::string_view* content) {
  std::string_view line;
  while (next_line(&line)) {
    size_t first = 0;
    while (first < line.size() && (line[first] == ' ' || line[first] == '\t')) ++first;
    if (first == line.size() || line[first] == '#') continue;
    *content = line;
    return true;
  }
  return false;
}

bool CsvReader::next(CsvRow* row) {
  std::string_view content;
  if (pending_first_) {
    pending_first_ = false;
    content = first_line_;
    row->line = first_line_number_;
  } else {
    if (!next_content(&content)) return false;
    row->line = line_number_;
  }
  parse(content, row);
  return true;
}

void CsvReader::parse(std::string_view content, CsvRow* row) {
  split_fields(content, layout_.delimiter, &fields_);
  // The file and line are put into words only for a message.
  auto at = [&] { return name_ + ":" + std::to_string(row->line) + ": "; };
  if (fields_.size() != layout_.columns) {
    // Decimal commas in a file whose fields a comma separates cannot be told apart.
    const std::string hint = layout_.delimiter == ',' && fields_.size() > layout_.columns
                                 ? " (numbers with decimal commas need fields separated by ';' or tabs)"
                                 : "";
    throw InputError(at() + "found " + std::to_string(fields_.size()) + " field(s) where line " +
                     std::to_string(first_line_number_) + " has " + std::to_string(layout_.columns) + hint);
  }
  auto read = [&](size_t column, double* value) {
    // A signal's empty cell: a missing sample, for the record to deal with.
    if (fields_[column].empty() && static_cast<long>(column) != layout_.time) {
      *value = std::nan("");
      return;
    }
    std::string sign_hint;
    if (!read_sample(fields_[column], value, &sign_hint)) {
      const std::string text = "'" + std::string(fields_[column]) + "'";
      // A list (all, say) that takes in a column of words: the list is wrong.
      if (first_data_line_ == row->line && layout_.signals.size() > 1 && static_cast<long>(column) != layout_.time) {
        throw UsageError("--column: " + layout_.column_name(column) + " of " + name_ + " is text (" + text +
                         " on line " + std::to_string(row->line) + "), not a signal: leave it out of the list");
      }
      // 1.234,5: a thousands separator, which no reading can tell from a decimal point.
      const std::string_view field = fields_[column];
      const bool both = field.find(',') != std::string_view::npos && field.find('.') != std::string_view::npos;
      const std::string hint =
          both ? " (thousands separators are not read: write 1234,5 or 1234.5)" : sign_hint;
      throw InputError(at() + layout_.column_name(column) + ": " + text + " is not a number" + hint);
    }
  };
  if (first_data_line_ == 0) first_data_line_ = row->line;
  if (decimal_ == DecimalSign::kUnknown && layout_.delimiter != ',') learn_decimal_sign(row->line);
  for (size_t i = 0; i < layout_.signals.size(); ++i) read(layout_.signals[i], &signals_[i]);
  row->u = signals_[0];
  if (layout_.time >= 0) read(static_cast<size_t>(layout_.time), &row->t);
}

size_t CsvReader::count_rows(CsvRow* first, CsvRow* last) {
  size_t rows = 0;
  std::string_view content;
  std::string last_line;
  long last_number = 0;
  if (pending_first_) {
    rows = 1;
    last_line = first_line_;
    last_number = first_line_number_;
  }
  while (next_content(&content)) {
    if (rows == 0) {
      first->line = line_number_;
      parse(content, first);
    }
    ++rows;
    last_line.assign(content);
    last_number = line_number_;
  }
  if (pending_first_) {
    first->line = first_line_number_;
    parse(first_line_, first);
  }
  if (rows > 0) {
    last->line = last_number;
    parse(last_line, last);
  }
  rewind();
  return rows;
}

void CsvReader::rewind() {
  in_->clear();
  in_->seekg(0);
  if (!*in_) throw InputError(name_ + ": cannot read the file a second time (is it a pipe?)");
  begin_ = end_ = 0;
  eof_ = false;
  line_number_ = 0;
  std::string_view first;
  next_content(&first);
  if (layout_.units_row) next_content(&first);
  pending_first_ = layout_.names.empty();
}

std::unique_ptr<CsvReader> open_csv_file(const std::string& path, const ColumnChoice& choice,
                                         bool decimal_comma) {
  auto in = std::make_unique<std::ifstream>(path, std::ios::binary);
  if (!*in) throw InputError(path + ": cannot open the file");

  return std::make_unique<CsvReader>(std::move(in), path, choice, decimal_comma);
}

}  // namespace corvel::sim
