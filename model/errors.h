// The errors of the program: one base with a kind and the fields that say
// where and on what it failed. The message is made from those fields once,
// by Describe, when an edge (the command line, the window, Python) asks for
// it through what(); nothing edits a message after that.
//
// A handler that meets a run-time error stops at once; the window's guard
// reports the error and the program goes on with everything as it stood at
// the failing step.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace model {

class Error : public std::exception {
public:
    enum class Kind {
        Overflow,        // a 16-bit conversion or a number text past the double range
        FloatingPoint,   // floating-point overflow, division by zero or invalid operation
        IndexOutOfRange, // an index outside an array or a group of fields
        FileNotWritten,  // a file (the picture, data) could not be written
        OutOfMemory,     // a handler could not get the memory it needed
        Usage,           // a command line, job record or call that cannot be run as given
        Cancelled,       // the work was stopped: the window closing, Ctrl-C
        Unexpected,      // anything else; the message says what
    };

    // Where and on what an error happened. Every field is optional; Describe
    // uses those that are set.
    struct Fields {
        std::string text;         // the program's own words for what went wrong
        std::string option;       // the option or record key concerned, as written
        std::string value;        // what was given for it: foreign text, quoted when shown
        std::string record;       // the job record the error was found in
        std::string path;         // the file concerned
        int error = 0;            // the errno of a failed call on path
        bool picture = false;     // path is the picture (the window's words for it)
        long long line = 0;       // a place in a text: line and column, from 1
        long long column = -1;    // a dot's column and row in a picture, from 0
        long long row = -1;
        long long step = -1;      // the step of an orbit at which it failed
    };

    Error(Kind kind, Fields fields) : kind_(kind), fields_(std::move(fields)) {}
    Error(Kind kind, std::string text) : kind_(kind) { fields_.text = std::move(text); }

    Kind kind() const { return kind_; }
    const Fields& fields() const { return fields_; }
    // The message, made by Describe on first use.
    const char* what() const noexcept override;

private:
    Kind kind_;
    Fields fields_;
    mutable std::string message_;
};

// A run-time error of a computation or of a file: overflow, floating point,
// index, file not written, out of memory.
class RuntimeError : public Error {
public:
    using Error::Error;
};

// A request that cannot be run as given.
class UsageError : public Error {
public:
    explicit UsageError(std::string text) : Error(Kind::Usage, std::move(text)) {}
    explicit UsageError(Fields fields) : Error(Kind::Usage, std::move(fields)) {}
};

// Thrown by the yield between two columns once the window is closing, so that
// every running plot unwinds, and by the checks for Ctrl-C. The window's
// guard swallows it silently.
struct Cancelled : Error {
    Cancelled() : Error(Kind::Cancelled, std::string("Interrupted.")) {}
};

// The one message of an error, from its kind and fields.
std::string Describe(const Error& error);

// Foreign text as every message shows it: in quotes, on one line, control
// characters, quotes, backslashes and bytes that are not UTF-8 escaped, cut
// to limit characters (then followed by "...").
std::string Quoted(std::string_view text, size_t limit = 40);
// A file name as messages show it: escaped as Quoted does, never cut.
std::string QuotedPath(std::string_view path);

// The reason a call on a file failed, for its errno: one wording per errno.
std::string FileReason(int error);

// The file error of a failed call on name (the picture, or a data file).
[[noreturn]] void ThrowNotWritten(const std::string& name, int error, bool picture);
// The same for a reason that is not an errno, in the program's own words.
[[noreturn]] void ThrowNotWritten(const std::string& name, std::string reason, bool picture);

[[noreturn]] inline void throwOverflow(const std::string& what = "Overflow.")
{
    throw RuntimeError(RuntimeError::Kind::Overflow, what);
}

[[noreturn]] inline void throwFloatingPoint(const std::string& what =
    "Floating-point error: a computation overflowed or had no defined result.")
{
    throw RuntimeError(RuntimeError::Kind::FloatingPoint, what);
}

[[noreturn]] inline void throwIndexOutOfRange(const std::string& what = "Index out of range.")
{
    throw RuntimeError(RuntimeError::Kind::IndexOutOfRange, what);
}

} // namespace model
