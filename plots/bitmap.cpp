#include "plots/bitmap.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plots {

namespace {

void put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

[[noreturn]] void notWritten(const std::string& name, const std::string& reason)
{
    throw model::RuntimeError(model::RuntimeError::Kind::FileNotWritten,
                              "The picture could not be saved as \"" + name + "\": " + reason
                                  + ".");
}

std::string reasonOf(int error)
{
    switch (error) {
    case ENOENT: return "the folder does not exist";
    case ENOTDIR: return "a part of the path is not a folder";
    case EACCES:
    case EPERM: return "there is no permission to write there";
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return "there is not enough space on the disc";
    case EISDIR: return "a folder of that name exists";
    case EROFS: return "the disc is read-only";
    case ENAMETOOLONG: return "the name is too long";
    case ELOOP: return "its symbolic links go round in a loop";
    case ENXIO: return "nothing is reading from it";
    default: return std::strerror(error);
    }
}

// Mode of the new file: that of the file it replaces, else what a newly
// created file gets under the process's umask.
mode_t modeFor(const std::string& name)
{
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Writes every byte, retrying after interruptions; 0 or the errno of the
// failure. A pipe whose reader has gone fails with EPIPE instead of ending
// the program: SIGPIPE is held back for the write and a signal it raised is
// taken away again.
int writeAll(int fd, const std::vector<uint8_t>& bytes)
{
    sigset_t pipeSignal, saved, pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &saved);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;

    int error = 0;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (error == EPIPE && !wasPending) {
        const timespec now {};
        while (::sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return error;
}

// What name finally refers to after the symbolic links at its end: the link
// stays and its target takes the bytes. A relative link target counts from
// the folder of the link. The result need not exist (a link to a file still
// to be made).
std::string followLinks(const std::string& name)
{
    std::string path = name;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        std::string target(256, '\0');
        for (;;) {
            const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
            if (n < 0)
                notWritten(name, reasonOf(errno));
            if (static_cast<size_t>(n) < target.size()) {
                target.resize(static_cast<size_t>(n));
                break;
            }
            target.resize(target.size() * 2);
        }
        if (target.empty())
            notWritten(name, reasonOf(ENOENT));
        path = target.front() == '/'
                   ? target
                   : (std::filesystem::path(path).parent_path() / target).string();
    }
    notWritten(name, reasonOf(ELOOP));
}

// A device, a pipe or anything else that is not a plain file cannot be
// replaced, and replacing it would destroy it: it takes the bytes as they
// come. Opening does not wait, so a pipe without a reader is a failure, not
// a window that hangs; the writes then wait as usual.
void writeInto(const std::string& name, const std::string& path,
               const std::vector<uint8_t>& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        notWritten(name, reasonOf(errno));
    const int flags = ::fcntl(fd, F_GETFL);
    int error = flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ? errno : 0;
    if (error == 0)
        error = writeAll(fd, bytes);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        notWritten(name, reasonOf(error));
}

// A plain file, or none yet: the bytes go completely into a new file beside
// it, which then takes its place in one step, so a failure at any point
// leaves the old file as it was.
void replace(const std::string& name, const std::string& path,
             const std::vector<uint8_t>& bytes)
{
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty())
        folder = ".";

    // A short name of our own beside the target, so that the final rename
    // stays within one file system and a long target name still fits.
    std::string temp = (folder / ".veltrane-save-XXXXXX").string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        notWritten(name, reasonOf(errno));

    auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temp.c_str());
        notWritten(name, reasonOf(error));
    };

    if (const int error = writeAll(fd, bytes))
        fail(error);
    if (::fchmod(fd, modeFor(path)) != 0)
        fail(errno);
    // The data must be on the disc before the new file takes the old one's
    // place, or a crash could leave neither.
    if (::fsync(fd) != 0)
        fail(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        notWritten(name, reasonOf(error));
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        notWritten(name, reasonOf(error));
    }
}

} // namespace

std::vector<uint8_t> EncodeBitmap(const plots::Surface& surface, int width, int height)
{
    const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(height);
    const uint32_t offset = 14 + 40;
    std::vector<uint8_t> out;
    out.reserve(offset + imageBytes);

    out.push_back('B');
    out.push_back('M');
    put32(out, offset + imageBytes); // file size
    put32(out, 0);                   // reserved
    put32(out, offset);              // where the pixels start

    put32(out, 40);                  // info header size
    put32(out, static_cast<uint32_t>(width));
    put32(out, static_cast<uint32_t>(height)); // positive: rows stored bottom-up
    put16(out, 1);                   // planes
    put16(out, 24);                  // bits per pixel
    put32(out, 0);                   // no compression
    put32(out, imageBytes);
    put32(out, 3780);                // 96 dots per inch, in dots per metre
    put32(out, 3780);
    put32(out, 0);                   // no colour table
    put32(out, 0);

    for (int row = height - 1; row >= 0; --row) {
        const size_t start = out.size();
        for (int column = 0; column < width; ++column) {
            const model::Color c = surface.pixel(column, row);
            out.push_back(static_cast<uint8_t>(model::BlueOf(c)));
            out.push_back(static_cast<uint8_t>(model::GreenOf(c)));
            out.push_back(static_cast<uint8_t>(model::RedOf(c)));
        }
        out.resize(start + rowBytes, 0);
    }
    return out;
}

void WriteFileReplacing(const std::string& name, const std::vector<uint8_t>& bytes)
{
    if (name.empty())
        notWritten(name, "the file name is empty");
    if (!std::filesystem::path(name).has_filename())
        notWritten(name, "the name ends with a folder separator");
    const std::string path = followLinks(name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            notWritten(name, reasonOf(EISDIR));
        if (!S_ISREG(st.st_mode)) {
            writeInto(name, path, bytes);
            return;
        }
    }
    replace(name, path, bytes);
}

} // namespace plots
