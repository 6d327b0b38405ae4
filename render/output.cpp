#include "render/output.h"

#include "model/errors.h"
#include "plots/bitmap.h"
#include "render/job.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include <unistd.h>

namespace render {

namespace {

std::string lowerExtension(const std::string& name)
{
    std::string ext = std::filesystem::path(name).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

[[noreturn]] void notWritten(const std::string& name, const std::string& reason)
{
    throw model::RuntimeError(model::RuntimeError::Kind::FileNotWritten,
                              "The file \"" + name + "\" could not be written: " + reason + ".");
}

void appendBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

} // namespace

PictureFormat FormatOf(const std::string& name)
{
    const std::string ext = lowerExtension(name);
    if (ext == ".png")
        return PictureFormat::Png;
    if (ext == ".bmp")
        return PictureFormat::Bmp;
    throw UsageError("the picture \"" + name + "\" must end in .png or .bmp.");
}

std::string JobFileName(const std::string& picture)
{
    return std::filesystem::path(picture).replace_extension(".json").string();
}

std::vector<uint8_t> EncodePng(const plots::Canvas& canvas)
{
    // Everything with a destructor lives before the setjmp below, so that a
    // jump back from libpng skips none.
    std::vector<uint8_t> out;
    std::vector<png_byte> row(static_cast<size_t>(canvas.width()) * 3);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        throw std::bad_alloc();
    }
    if (setjmp(png_jmpbuf(png))) {
        // libpng gives up only when it runs out of memory while writing to memory.
        png_destroy_write_struct(&png, &info);
        throw std::bad_alloc();
    }
    png_set_write_fn(png, &out, appendBytes, flushNothing);
    png_set_IHDR(png, info, static_cast<png_uint_32>(canvas.width()),
                 static_cast<png_uint_32>(canvas.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const uint32_t* bits = canvas.bits();
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const uint32_t p = *bits++; // 0xFFRRGGBB
            row[3 * x] = static_cast<png_byte>(p >> 16);
            row[3 * x + 1] = static_cast<png_byte>(p >> 8);
            row[3 * x + 2] = static_cast<png_byte>(p);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

void CheckWritable(const std::string& name)
{
    namespace fs = std::filesystem;
    const fs::path target(name);
    if (!target.has_filename())
        notWritten(name, "the name ends with a folder separator");
    fs::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    std::error_code ec;
    if (fs::is_directory(target, ec))
        notWritten(name, "a folder of that name exists");
    if (!fs::exists(folder, ec))
        notWritten(name, "the folder does not exist");
    if (!fs::is_directory(folder, ec))
        notWritten(name, "a part of the path is not a folder");
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        notWritten(name, errno == EROFS ? "the disc is read-only"
                                        : "there is no permission to write there");
}

void WriteDataFile(const std::string& name, const std::vector<uint8_t>& bytes)
{
    try {
        plots::WriteFileReplacing(name, bytes);
    } catch (const model::RuntimeError& e) {
        // The writer speaks of a picture; say which file it was.
        std::string reason = e.what();
        const std::string prefix = "The picture could not be saved as \"" + name + "\": ";
        if (reason.compare(0, prefix.size(), prefix) == 0)
            reason = reason.substr(prefix.size());
        if (!reason.empty() && reason.back() == '.')
            reason.pop_back();
        notWritten(name, reason);
    }
}

void WritePicture(const std::string& name, const plots::Canvas& canvas)
{
    if (FormatOf(name) == PictureFormat::Png)
        plots::WriteFileReplacing(name, EncodePng(canvas));
    else
        plots::WriteFileReplacing(name, plots::EncodeBitmap(canvas, canvas.width(),
                                                            canvas.height()));
}

} // namespace render
