// The files of a render: the picture (PNG or the window's 24-bit bitmap), the
// classes (.npy) and the job record (.json). Each is written whole into a new
// file beside its target, which then replaces the target in one step.
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

// The job record beside a picture: its name with the extension ".json".
std::string JobFileName(const std::string& picture);

// The picture as an 8-bit RGB PNG.
std::vector<uint8_t> EncodePng(const plots::Canvas& canvas);

// Throws RuntimeError (file not written) when a file of that name could not be
// created: its folder is missing, is not a folder, or is not writable. Checked
// before the computation, so that a long render does not end in a file that
// cannot be saved.
void CheckWritable(const std::string& name);

// Writes bytes under name whole or not at all; an existing file stays as it
// was on any failure. The error names the file as a data file.
void WriteDataFile(const std::string& name, const std::vector<uint8_t>& bytes);

// Encodes and writes the picture in the format its name asks for.
void WritePicture(const std::string& name, const plots::Canvas& canvas);

} // namespace render
