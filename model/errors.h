// The one error type of the program. A handler that meets a run-time error
// stops at once; the window's guard reports the error and the program goes on
// with everything as it stood at the failing step.
#pragma once

#include <stdexcept>
#include <string>

namespace model {

class RuntimeError : public std::runtime_error {
public:
    enum class Kind {
        Overflow,        // a 16-bit conversion or a number text past the double range
        FloatingPoint,   // floating-point overflow, division by zero or invalid operation
        IndexOutOfRange, // an index outside an array or a group of fields
        FileNotWritten,  // the picture could not be saved
        OutOfMemory,     // a handler could not get the memory it needed
    };

    RuntimeError(Kind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}

    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// Thrown by the yield between two columns once the window is closing, so that
// every running plot unwinds. The guard swallows it silently.
struct Cancelled {};

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
