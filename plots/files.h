// Writing files without ever losing the ones they replace: the window's Save
// and the renderer's files go through here alike.
//
// A plain file, or a name not yet taken, gets its bytes in a new file beside
// it (written whole, then flushed to the disc), which then takes its place in
// one rename: on any failure the old file stays as it was, byte for byte. A
// symbolic link is followed and its target replaced so; the link stays.
// Anything else (a device, a pipe) is written into as it stands and never
// replaced; opening a pipe does not wait for a reader. Names are used exactly
// as given (relative names refer to the working directory). Failures are
// RuntimeErrors of kind FileNotWritten with the file's name and the errno.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plots {

// Writes one file as above; a failure names it as the picture.
void WriteFileReplacing(const std::string& name, const std::vector<uint8_t>& bytes);

// Who answers the signals that end the process while temporary files exist.
enum class SignalHandling {
    // The file set: every catchable signal whose default ends the process
    // removes the temporary files, then ends the process by the same signal.
    // A signal during the commit waits until the commit is whole or undone.
    Remove,
    // The caller (an interpreter with handlers of its own): nothing is
    // installed; the caller checks for its signals between the steps and lets
    // the file set's destructor remove the temporaries.
    Caller,
};

// The files of one run. add() writes each whole into a temporary file beside
// its target (a pipe or a device takes its bytes only at the commit);
// commit() then puts them all in place and, should one fail, puts back what
// stood before. On any failure every target stays as it was and every
// temporary file is removed: by the failing call, by the destructor, and by
// the signal handlers.
class FileSet {
public:
    explicit FileSet(SignalHandling signals = SignalHandling::Remove);
    ~FileSet();
    FileSet(const FileSet&) = delete;
    FileSet& operator=(const FileSet&) = delete;

    // picture: a failure names the file as the picture.
    void add(const std::string& name, const std::vector<uint8_t>& bytes, bool picture = false);
    void commit();

private:
    struct Entry;
    void removeTemporaries();
    std::vector<Entry> entries_;
    SignalHandling signals_;
};

// The file sets' signal handlers for as long as it lives, files or not, so
// that a process which writes files (the command line) ends cleanly by any
// signal at any moment. A SIGPIPE or SIGXFSZ that the process's own write
// raised does not end it: that write fails with EPIPE or EFBIG and is
// reported like any other failed write.
class SignalCleanup {
public:
    SignalCleanup();
    ~SignalCleanup();
    SignalCleanup(const SignalCleanup&) = delete;
    SignalCleanup& operator=(const SignalCleanup&) = delete;
};

// Writes every byte to fd, retrying after interruptions; 0 or the errno of
// the failure. A SIGPIPE that the write raises never ends the process.
int WriteAll(int fd, const void* bytes, size_t size);

// The signals the handlers answer: every catchable one whose default action
// ends the process.
std::vector<int> EndingSignals();

} // namespace plots
