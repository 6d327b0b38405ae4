// The option table: every option of veltrane-render, once. Each row says its
// name (after "--" on the command line, the key in the job record, and with
// "_" for "-" a Python keyword), the kind of value it takes and how its text
// is read, its range, its help, the modes that read it and where its value
// lives. The command line, the job record in both directions, the checks and
// the help are all driven from these rows; a new option is a new row. Which
// modes read an option is said by the modes' rows (render/plan.h): the
// options every mode reads are marked here, the others are listed by the
// modes that read them.
#pragma once

#include "render/job.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace render {

// The kind of value an option takes.
enum class ValueKind : uint8_t {
    Number,      // a finite number, read strictly (ReadStrictNumber)
    WholeNumber, // a number made whole by the row's rounding, within lo..hi
    Flag,        // on with --NAME, off with --no-NAME; true or false in JSON
    Choice,      // one of the row's words; the i-th word is the value i
    File,        // a file name, taken as given
};

// How a whole-number option takes a fraction.
enum class Rounding : uint8_t {
    Exact,    // refused: the number must be whole
    Floor,    // the whole number below, as the window's settings fields take it
    HalfEven, // the nearest, halves to even, as the window reads counts and indices
};

// A set of modes, one bit each.
class ModeSet {
public:
    constexpr ModeSet() = default;
    constexpr ModeSet(std::initializer_list<Mode> modes)
    {
        for (Mode m : modes)
            bits_ |= bit(m);
    }
    static constexpr ModeSet All() { return ModeSet(~uint32_t{0}); }
    constexpr void add(Mode m) { bits_ |= bit(m); }
    constexpr bool contains(Mode m) const { return (bits_ & bit(m)) != 0; }
    constexpr bool all() const { return bits_ == ~uint32_t{0}; }

private:
    constexpr explicit ModeSet(uint32_t bits) : bits_(bits) {}
    static constexpr uint32_t bit(Mode m) { return uint32_t{1} << m.index; }
    uint32_t bits_ = 0;
};

// Where an option's value came from, for the checks and their messages.
enum class Source : uint8_t { Default, Record, Given };

// Everything one command line (or one call from Python) asks for: the job and
// how to run it, with where each option's value came from.
struct Request {
    Job job = DefaultJob();
    std::string output, classes, from; // the picture, the classes array, a job record to read
    std::string json;                  // cycles: where the record with the cycles goes
    std::string orbits;                // orbit: the raw states
    int threads = 0;                   // 0: every core
    bool quiet = false;
    std::vector<Source> sources;       // one per row of Options(), all Default at first

    Request();
};

struct Option {
    std::string_view name;       // "start-values"
    char shortName;              // 'o' for -o, or 0
    ValueKind kind;
    int arity;                   // values per use: 1, N for a list, 0 for a flag
    std::string_view valueNames; // what the values stand for: "W11 W12 W21 W22 B1 B2", "N"
    std::string_view help;       // one phrase; the range, default and modes are added to it
    bool everyMode;              // read by every mode; else by the modes that list it
    bool recorded;               // written into the job record under its name
    bool recordedAlways;         // and that for every mode, not only those that read it
    int lo, hi;                  // WholeNumber: the accepted range
    Rounding rounding;           // WholeNumber: how a fraction is taken
    std::span<const std::string_view> choices; // Choice: the words
    std::string_view defaultNote; // said instead of the default value where that means little
    // Element i of the value: a number, a whole number, 0 or 1 for a flag,
    // the word's index for a choice. Not for files.
    double (*get)(const Request&, int i);
    void (*put)(Request&, int i, double value);
    std::string Request::*text; // File: the member it names
    // A check of the whole value beyond its range, or nullptr; throws UsageError.
    void (*check)(const Job&);
};

// The rows, in the order the help lists them.
std::span<const Option> Options();
// The row of a name (without dashes), or nullptr.
const Option* FindOption(std::string_view name);
// The row's position in Options() (and in Request::sources).
size_t IndexOf(const Option& option);
// "--name", as messages and the help call the option.
std::string Flagged(const Option& option);

// Whether a mode reads an option: every mode reads the common ones, a mode
// the ones its row lists.
bool Reads(Mode mode, const Option& option);
// The modes that read an option.
ModeSet ReadersOf(const Option& option);
// The range of a whole-number option for a mode: the mode's own where its
// row narrows it, else the option's.
std::pair<int, int> RangeFor(Mode mode, const Option& option);

// The value of a text that is one number and nothing else: an optional sign,
// digits with at most one full stop, an optional exponent (E or D, either
// case, with its digits), or the window's &H / &O forms; no blanks. The value
// is the one the window reads from the same text. Throws UsageError naming
// the option and the text (cut to 40 characters, control characters
// escaped) for anything else, and for a number past the double range.
double ReadStrictNumber(std::string_view option, std::string_view text);
// A text as messages quote it: in quotes, cut to 40 characters, with control
// characters and bytes that are not UTF-8 escaped.
std::string Quoted(std::string_view text);

// Setting an option of a request; each marks it Given and throws UsageError
// naming the option and what was given. From texts: max(arity, 1) texts, each
// read strictly (a flag takes "true" or "false", a choice one of its words, a
// file any name). Whole numbers are rounded as the row says and must then
// lie in lo..hi.
void SetFromTexts(Request& request, const Option& option, std::span<const std::string> texts);
// From numbers (Python): max(arity, 1) values, rounded as from text; a flag
// takes 0 or 1. Not for choices and files, which take texts.
void SetFromNumbers(Request& request, const Option& option, std::span<const double> values);
// From a job record's value under the option's name; marks it Record.
void SetFromJson(Request& request, const Option& option, const nlohmann::json& value);
// The value as the job record holds it.
nlohmann::json ValueAsJson(const Request& request, const Option& option);
// The value as text, values separated by blanks ("0.4 1.9 ..", "true", "state").
std::string ValueText(const Request& request, const Option& option);
// The default as the help says it: ValueText of a fresh request, or the note.
std::string DefaultText(const Option& option);
// "1..100" for a whole number, else ""; for a mode, its own range.
std::string RangeText(const Option& option);
std::string RangeText(Mode mode, const Option& option);

// What the help calls an option's value: "NUMBER", "NUMBER x 4", "OUT.npy".
std::string Metavariable(const Option& option);

// One line of an option table, as `veltrane-render MODE --help` prints it and
// Python's options(mode) returns it.
struct OptionLine {
    const Option* option;
    std::string names;       // "--size NUMBER", "--stats, --no-stats", "-o, --output OUT.png"
    std::string help;        // the phrase, with what the values stand for
    std::string range;       // "1..100", the mode's own where it narrows it; "" for none
    std::string defaultText; // "" for flags and files
};
// The options a mode reads beyond the common ones, in the order of the table;
// without a mode, the common ones.
std::vector<OptionLine> OptionTable(const Mode* mode);

// Reads a job record into a request: its mode, and every option under
// "options", each marked Record. An unknown option, a value of the wrong kind
// or an unknown mode is a UsageError; ranges are left to Check.
void MergeJson(Request& request, const nlohmann::json& record);

// Checks a request once, after every source is merged: every value within its
// range, and no option its mode does not read, given or (from a record) away
// from its default. Throws UsageError; one from a record names the record.
void Check(const Request& request);

} // namespace render
