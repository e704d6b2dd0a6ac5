#include "logbook/csv_reader.h"

#include <fmt/format.h>

namespace kestrun {

CsvReader::CsvReader(ByteSource& source, std::string name, std::size_t max_field_bytes,
                     std::size_t max_fields)
    : source_(source),
      name_(std::move(name)),
      max_field_bytes_(max_field_bytes),
      max_fields_(max_fields),
      buffer_(std::size_t{1} << 16) {}

bool CsvReader::NextByte(char& c) {
    if (at_ == end_) {
        if (source_done_) return false;
        std::size_t got = 0;
        status_ = source_.Read(buffer_, got);
        at_ = 0;
        end_ = got;
        source_done_ = got == 0 || !status_.ok();
        if (got == 0) return false;
    }
    c = buffer_[at_++];
    return true;
}

bool CsvReader::Fail(std::uint64_t line, std::string_view why) {
    status_ = Status::Error(fmt::format("{}:{}: {}", name_, line, why));
    return false;
}

bool CsvReader::Next(CsvRecord& record) {
    record.fields.assign(1, std::string());
    record.field_count = 1;
    record.line = line_;
    enum class State { kUnquoted, kQuoted, kAfterQuote } state = State::kUnquoted;
    bool any = false;  // bytes seen in this record
    std::string* field = &record.fields.back();
    const auto add = [&](char c) {
        if (field == nullptr) return true;  // a field past max_fields_: only counted
        if (field->size() == max_field_bytes_) {
            return Fail(record.line,
                        fmt::format("a field is longer than {} bytes", max_field_bytes_));
        }
        field->push_back(c);
        return true;
    };
    const auto next_field = [&] {
        ++record.field_count;
        field = nullptr;
        if (record.fields.size() < max_fields_) field = &record.fields.emplace_back();
    };
    const auto end_record = [&] {
        // An unquoted field keeps no "\r" of a "\r\n" line end.
        if (state == State::kUnquoted && field != nullptr && !field->empty() &&
            field->back() == '\r') {
            field->pop_back();
        }
        ++line_;
        return true;
    };
    char c = 0;
    while (NextByte(c)) {
        any = true;
        switch (state) {
            case State::kUnquoted:
                if (c == ',') {
                    next_field();
                } else if (c == '\n') {
                    return end_record();
                } else if (c == '"' && field != nullptr && field->empty()) {
                    state = State::kQuoted;
                } else if (!add(c)) {
                    return false;
                }
                break;
            case State::kQuoted:
                if (c == '"') {
                    state = State::kAfterQuote;
                } else {
                    if (c == '\n') ++line_;
                    if (!add(c)) return false;
                }
                break;
            case State::kAfterQuote:
                if (c == '"') {  // a doubled quote stands for one
                    state = State::kQuoted;
                    if (!add(c)) return false;
                } else if (c == ',') {
                    state = State::kUnquoted;
                    next_field();
                } else if (c == '\n') {
                    return end_record();
                } else if (c != '\r') {
                    return Fail(record.line,
                                "a quoted field must end at a comma or the end of the line");
                }
                break;
        }
    }
    if (!status_.ok()) return false;
    if (state == State::kQuoted) return Fail(record.line, "a quoted field is not closed");
    return any;
}

}  // namespace kestrun
