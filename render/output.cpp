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

#include <atomic>
#include <climits>
#include <cstdio>
#include <csignal>
#include <random>
#include <utility>

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

[[noreturn]] void notWritten(const std::string& name, const std::string& reason,
                             bool picture = false)
{
    throw model::RuntimeError(model::RuntimeError::Kind::FileNotWritten,
                              picture ? "The picture could not be saved as \"" + name + "\": "
                                            + reason + "."
                                      : "The file \"" + name + "\" could not be written: "
                                            + reason + ".");
}

// What a failed call on a file means, in the words the window uses when it
// cannot save a picture.
std::string reasonOf(int error)
{
    static const std::pair<std::vector<int>, const char*> kReasons[] = {
        {{ENOENT}, "the folder does not exist"},
        {{ENOTDIR}, "a part of the path is not a folder"},
        {{EACCES, EPERM}, "there is no permission to write there"},
        {{ENOSPC, EDQUOT, EFBIG}, "there is not enough space on the disc"},
        {{EISDIR, ENOTEMPTY, EEXIST}, "a folder of that name exists"},
        {{EROFS}, "the disc is read-only"},
        {{ENAMETOOLONG}, "the name is too long"},
        {{ELOOP}, "its symbolic links go round in a loop"},
    };
    for (const auto& [errors, reason] : kReasons)
        if (std::find(errors.begin(), errors.end(), error) != errors.end())
            return reason;
    return std::strerror(error);
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
    const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (longest > 0 && target.filename().string().size() > static_cast<size_t>(longest))
        notWritten(name, reasonOf(ENAMETOOLONG));
    // An existing file that this user may not replace: in a folder with the
    // sticky bit, only its owner or the folder's may.
    struct stat file {}, dir {};
    if (::lstat(name.c_str(), &file) == 0 && S_ISREG(file.st_mode)) {
        const uid_t me = ::geteuid();
        const bool sticky = ::stat(folder.c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) != 0;
        if (frozen(name) || (me != 0 && sticky && file.st_uid != me && dir.st_uid != me))
            notWritten(name, reasonOf(EPERM));
    }
}

std::vector<uint8_t> EncodePicture(const std::string& name, const plots::Canvas& canvas)
{
    if (FormatOf(name) == PictureFormat::Png)
        return EncodePng(canvas);
    return plots::EncodeBitmap(canvas, canvas.width(), canvas.height());
}

// --- Temporary files and signals ----------------------------------------------

namespace {

// The temporary files in existence, in a fixed list that a signal handler can
// walk: a slot holds a name while its state is not Free. A name is entered
// before its file is created and leaves after the file is renamed or removed.
enum SlotState : int { Free, Taken };
struct Slot {
    std::atomic<int> state{Free};
    char path[PATH_MAX];
};
constexpr int kSlots = 16;
Slot slots[kSlots];

std::atomic<int> setsAlive{0};
// While the files are being put in place, a signal waits: it is noted here
// and raised once the commit (or its undoing) is complete.
std::atomic<bool> deferring{false};
std::atomic<int> deferred{0};
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[std::size(kSignals)];

void unlinkTaken()
{
    for (Slot& s : slots)
        if (s.state.load() != Free)
            ::unlink(s.path);
}

extern "C" void onSignal(int signal)
{
    if (deferring.load()) {
        deferred.store(signal);
        return;
    }
    unlinkTaken();
    // Ends the process by the signal once this handler returns.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}

void installHandlers()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &previous[i]);
}

void restoreHandlers()
{
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &previous[i], nullptr);
}

// A fresh name for a temporary file in folder; short, so that a long target
// name still leaves room for it.
std::string freshName(const std::string& folder)
{
    static std::mt19937_64 random(std::random_device{}() ^ static_cast<uint64_t>(::getpid()));
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string name = (folder.empty() ? std::string(".") : folder) + "/.veltrane-save-";
    for (int k = 0; k < 6; ++k)
        name += kLetters[random() % (sizeof kLetters - 1)];
    return name;
}

// Enters a temporary file's name in a free slot before the file is made;
// the slot's index.
int takeSlot(const std::string& folder, const std::string& name, bool picture)
{
    const std::string temp = freshName(folder);
    if (temp.size() >= PATH_MAX)
        notWritten(name, reasonOf(ENAMETOOLONG), picture);
    for (int i = 0; i < kSlots; ++i) {
        int expected = Free;
        if (slots[i].state.load() == Free) {
            std::memcpy(slots[i].path, temp.c_str(), temp.size() + 1);
            if (slots[i].state.compare_exchange_strong(expected, Taken))
                return i;
        }
    }
    notWritten(name, "too many files at once", picture);
}

void freeSlot(int slot) { slots[slot].state.store(Free); }

// The file name finally refers to past the symbolic links at its end; it
// need not exist yet (a link to a file still to be made).
std::string resolved(const std::string& name, bool picture)
{
    namespace fs = std::filesystem;
    fs::path path = name;
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(path, ec)))
            return path.string();
        const fs::path target = fs::read_symlink(path, ec);
        if (ec || target.empty())
            notWritten(name, reasonOf(ec ? ec.value() : ENOENT), picture);
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    notWritten(name, reasonOf(ELOOP), picture);
}

int writeWhole(int fd, const std::vector<uint8_t>& bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR)
            return errno;
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return 0;
}

} // namespace

struct FileSet::Entry {
    std::string name, path;     // as given, and past its links
    int slot = -1;              // the temporary file, for a plain file
    std::vector<uint8_t> bytes; // for a pipe or a device, written at the commit
    bool picture = false;
};

FileSet::FileSet()
{
    if (setsAlive.fetch_add(1) == 0)
        installHandlers();
}

FileSet::~FileSet()
{
    removeTemporaries();
    if (setsAlive.fetch_sub(1) == 1)
        restoreHandlers();
}

void FileSet::removeTemporaries()
{
    for (Entry& e : entries_)
        if (e.slot >= 0) {
            ::unlink(slots[e.slot].path);
            freeSlot(e.slot);
            e.slot = -1;
        }
}

void FileSet::add(const std::string& name, const std::vector<uint8_t>& bytes, bool picture)
{
    if (name.empty())
        notWritten(name, "the file name is empty", picture);
    if (!std::filesystem::path(name).has_filename())
        notWritten(name, "the name ends with a folder separator", picture);
    Entry e{name, resolved(name, picture), -1, {}, picture};
    struct stat st {};
    if (::lstat(e.path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            notWritten(name, reasonOf(EISDIR), picture);
        if (!S_ISREG(st.st_mode)) {
            e.bytes = bytes;
            entries_.push_back(std::move(e));
            return;
        }
    }
    const std::string folder = std::filesystem::path(e.path).parent_path().string();
    int fd = -1;
    while (fd < 0) {
        e.slot = takeSlot(folder, name, picture);
        // Created as any new file is, under the umask; a file it replaces
        // passes on its mode.
        fd = ::open(slots[e.slot].path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int error = errno;
            freeSlot(e.slot);
            if (error != EEXIST)
                notWritten(name, reasonOf(error), picture);
        }
    }
    // The data must be on the disc before the new file takes the old one's
    // place, or a crash could leave neither.
    int error = writeWhole(fd, bytes);
    struct stat old {};
    if (error == 0 && ::stat(e.path.c_str(), &old) == 0 && S_ISREG(old.st_mode)
        && ::fchmod(fd, old.st_mode & 07777) != 0)
        error = errno;
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        ::unlink(slots[e.slot].path);
        freeSlot(e.slot);
        notWritten(name, reasonOf(error), picture);
    }
    entries_.push_back(std::move(e));
}

void FileSet::commit()
{
    // A pipe or a device cannot be replaced, nor wait for the others: it takes
    // its bytes first, as it stands, so that its failure changes nothing else.
    for (Entry& e : entries_)
        if (e.slot < 0) {
            try {
                plots::WriteFileReplacing(e.name, e.bytes);
            } catch (const model::RuntimeError& failure) {
                if (e.picture)
                    throw;
                // The writer speaks of a picture; say which file it was.
                std::string reason = failure.what();
                reason = reason.substr(reason.find("\": ") + 3);
                reason.pop_back();
                notWritten(e.name, reason);
            }
        }

    // Each plain target's old file is kept under a second name until all are
    // in place, so that a failed rename can put every earlier one back.
    struct Done {
        const Entry* entry;
        std::string backup; // empty: there was no file before
    };
    std::vector<Done> done;
    done.reserve(entries_.size());
    deferring.store(true);
    int failedAt = -1, error = 0;
    for (size_t i = 0; i < entries_.size() && failedAt < 0; ++i) {
        const Entry& e = entries_[i];
        if (e.slot < 0)
            continue;
        std::string backup;
        bool linked = false;
        struct stat st {};
        if (::lstat(e.path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
            // Something else took the target's place since it was checked.
            error = S_ISDIR(st.st_mode) ? EISDIR : EEXIST;
        } else if (::lstat(e.path.c_str(), &st) == 0) {
            backup = freshName(std::filesystem::path(e.path).parent_path().string());
            // A hard link keeps the old file in place; where none can be
            // made, it moves aside for the moment of the rename.
            linked = ::link(e.path.c_str(), backup.c_str()) == 0;
            if (!linked && ::rename(e.path.c_str(), backup.c_str()) != 0)
                backup.clear();
        }
        if (error == 0 && ::rename(slots[e.slot].path, e.path.c_str()) == 0) {
            done.push_back({&e, backup});
            continue;
        }
        error = error ? error : errno;
        failedAt = static_cast<int>(i);
        if (linked)
            ::unlink(backup.c_str());
        else if (!backup.empty())
            ::rename(backup.c_str(), e.path.c_str());
        for (auto it = done.rbegin(); it != done.rend(); ++it)
            if (it->backup.empty())
                ::unlink(it->entry->path.c_str());
            else
                ::rename(it->backup.c_str(), it->entry->path.c_str());
    }
    if (failedAt >= 0) {
        removeTemporaries();
    } else {
        for (const Done& d : done)
            if (!d.backup.empty())
                ::unlink(d.backup.c_str());
        for (Entry& e : entries_)
            if (e.slot >= 0) {
                freeSlot(e.slot);
                e.slot = -1;
            }
    }
    deferring.store(false);
    if (const int signal = deferred.exchange(0))
        onSignal(signal);
    if (failedAt >= 0)
        notWritten(entries_[failedAt].name, reasonOf(error), entries_[failedAt].picture);
}

} // namespace render
