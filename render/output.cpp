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

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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
    throw UsageError("the picture " + model::QuotedPath(name) + " must end in .png or .bmp.");
}

std::string JobFileName(const std::string& picture) { return picture + ".json"; }

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

namespace {

// Whether a file refuses to be replaced whatever the folder allows: marked
// immutable or append-only.
bool frozen(const std::string& name)
{
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    const bool got = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    return got && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
}

} // namespace

void CheckWritable(const std::string& name)
{
    namespace fs = std::filesystem;
    const fs::path target(name);
    if (!target.has_filename())
        model::ThrowNotWritten(name, "the name ends with a folder separator", false);
    fs::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";
    std::error_code ec;
    if (fs::is_directory(target, ec))
        model::ThrowNotWritten(name, EISDIR, false);
    if (!fs::exists(folder, ec))
        model::ThrowNotWritten(name, ENOENT, false);
    if (!fs::is_directory(folder, ec))
        model::ThrowNotWritten(name, ENOTDIR, false);
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        model::ThrowNotWritten(name, errno == EROFS ? EROFS : EACCES, false);
    const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (longest > 0 && target.filename().string().size() > static_cast<size_t>(longest))
        model::ThrowNotWritten(name, ENAMETOOLONG, false);
    // An existing file that this user may not replace: in a folder with the
    // sticky bit, only its owner or the folder's may.
    struct stat file {}, dir {};
    if (::lstat(name.c_str(), &file) == 0 && S_ISREG(file.st_mode)) {
        const uid_t me = ::geteuid();
        const bool sticky = ::stat(folder.c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) != 0;
        if (frozen(name) || (me != 0 && sticky && file.st_uid != me && dir.st_uid != me))
            model::ThrowNotWritten(name, EPERM, false);
    }
}

std::vector<uint8_t> EncodePicture(const std::string& name, const plots::Canvas& canvas)
{
    if (FormatOf(name) == PictureFormat::Png)
        return EncodePng(canvas);
    return plots::EncodeBitmap(canvas, canvas.width(), canvas.height());
}

} // namespace render
