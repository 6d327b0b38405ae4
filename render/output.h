// The files of a render: the picture (PNG or the window's 24-bit bitmap), the
// classes (.npy) and the job record (.json). They are replaced together or not
// at all: each is written whole into a new file beside its target, and only
// when every one is written do they take their targets' places.
#pragma once

#include "plots/canvas.h"

#include <cstdint>
#include <string>
#include <vector>

namespace render {

enum class PictureFormat { Png, Bmp };

// The format an output name asks for by its extension (either case); throws
// UsageError for any other.
PictureFormat FormatOf(const std::string& name);

// The job record beside a picture: its whole name with ".json" added, so that
// x.png and x.bmp keep records of their own.
std::string JobFileName(const std::string& picture);

// The picture as an 8-bit RGB PNG.
std::vector<uint8_t> EncodePng(const plots::Canvas& canvas);

// Throws RuntimeError (file not written) when a file of that name could not be
// created: its folder is missing, is not a folder, or is not writable. Checked
// before the computation, so that a long render does not end in a file that
// cannot be saved.
void CheckWritable(const std::string& name);

// The picture encoded in the format its name asks for.
std::vector<uint8_t> EncodePicture(const std::string& name, const plots::Canvas& canvas);

// The files of one run. add() writes each whole into a temporary file beside
// its target (a symbolic link's target; a pipe or a device takes its bytes
// only at the commit, as it stands); commit() then puts them all in place and,
// should one fail, puts back what stood before. On any failure every target
// stays as it was and every temporary file is removed: by the failing call,
// by the destructor, and on SIGINT, SIGTERM or SIGHUP, after which the
// process ends by that signal. Errors are RuntimeErrors naming the file, as
// a picture or as a data file.
class FileSet {
public:
    FileSet();
    ~FileSet();
    FileSet(const FileSet&) = delete;
    FileSet& operator=(const FileSet&) = delete;

    void add(const std::string& name, const std::vector<uint8_t>& bytes, bool picture = false);
    void commit();

private:
    struct Entry;
    void removeTemporaries();
    std::vector<Entry> entries_;
};

} // namespace render
