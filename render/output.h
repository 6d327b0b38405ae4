// The files of a render: the picture (PNG or the window's 24-bit bitmap), the
// classes (.npy) and the job record (.json). They are replaced together or not
// at all: each is written whole into a new file beside its target, and only
// when every one is written do they take their targets' places.
#pragma once

#include "plots/canvas.h"
#include "plots/files.h"

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

// The files of one run, replaced together (plots/files.h).
using plots::FileSet;

} // namespace render
