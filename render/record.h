// Reading a job record, and the file names it holds.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <string_view>

namespace render {

// The JSON of a job record's text. The text is checked first, so that a
// fault is reported in the program's own words with its line and column and
// what was expected there: text that is not UTF-8, a key given twice in one
// object, nesting deeper than 256, a number past the double range. Throws
// UsageError.
nlohmann::json ParseRecord(std::string_view text);

// The job record in the file name: a plain file only (a pipe, a device or a
// folder is refused at once, without waiting for a writer). Throws
// UsageError naming the file.
nlohmann::json ReadRecordFile(const std::string& name);

// A file name as a record holds it. Any name the system takes is stored
// without loss: a name that is valid UTF-8 as a JSON text of its own; any
// other as {"escaped": TEXT}, where TEXT is the name with each byte that is
// not part of valid UTF-8 written \xHH (two capital hex digits) and each
// backslash doubled.
nlohmann::json PathToJson(const std::string& name);
// The name back; throws UsageError naming key for anything else.
std::string PathFromJson(const nlohmann::json& value, const std::string& key);

// A file name given as an argument (a Python path's bytes): any bytes but
// NUL, which would cut the name short. Throws UsageError naming argument.
std::string FileArgument(std::string_view argument, std::string_view name);

// Whether a text is valid UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text);

} // namespace render
