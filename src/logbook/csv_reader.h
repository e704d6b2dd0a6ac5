#pragma once
// Records of a CSV file as RFC 4180 writes them: fields separated by commas,
// a field in double quotes may hold commas, line breaks and doubled quotes
// ("KQ""X" is KQ"X), records end at a line break ("\n" or "\r\n"). Fields
// and records are bounded, so a hostile file costs no more memory than a
// sound one.

#include <cstdint>
#include <string>
#include <vector>

#include "logbook/text_input.h"

namespace kestrun {

struct CsvRecord {
    std::vector<std::string> fields;  // the first max_fields of them
    std::size_t field_count = 0;      // all of them
    std::uint64_t line = 0;           // the line the record starts on
};

class CsvReader {
  public:
    // `name` names the file in messages: "<name>:<line>: <why>".
    CsvReader(ByteSource& source, std::string name, std::size_t max_field_bytes,
              std::size_t max_fields);

    // The next record; false at the end or when the file is not sound CSV
    // (status() says where and why). An empty line is a record of one empty
    // field.
    bool Next(CsvRecord& record);
    const Status& status() const { return status_; }

  private:
    bool NextByte(char& c);
    bool Fail(std::uint64_t line, std::string_view why);

    ByteSource& source_;
    std::string name_;
    std::size_t max_field_bytes_;
    std::size_t max_fields_;
    std::vector<char> buffer_;
    std::size_t at_ = 0, end_ = 0;
    bool source_done_ = false;
    std::uint64_t line_ = 1;
    Status status_;
};

}  // namespace kestrun
