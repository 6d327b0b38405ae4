#include "plots/files.h"

#include "model/errors.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <random>
#include <utility>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plots {

namespace {

using model::ThrowNotWritten;

// --- Temporary files and signals -------------------------------------------

// The temporary files in existence, in a fixed list that a signal handler can
// walk: a slot holds a name while its state is Taken. A name is entered
// before its file is created and leaves after the file is renamed or removed.
enum SlotState : int { Free, Taken };
struct Slot {
    std::atomic<int> state{Free};
    char path[PATH_MAX];
};
constexpr int kSlots = 64;
Slot slots[kSlots];

// Users of the handlers (file sets that handle signals, SignalCleanups); the
// handlers are in place while there is one.
std::mutex installing;
int handlerUsers = 0;
// While the files are being put in place, a signal waits: it is noted here
// and raised once the commit (or its undoing) is complete.
std::atomic<bool> deferring{false};
std::atomic<int> deferred{0};

constexpr int kMaxSignal = 65;
struct sigaction previous[kMaxSignal];
bool installed[kMaxSignal];

void unlinkTaken()
{
    for (Slot& s : slots)
        if (s.state.load() != Free)
            ::unlink(s.path);
}

// Ends the process by signal, the way it would have ended without us.
void endBy(int signal)
{
    ::sigaction(signal, &previous[signal], nullptr);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(signal);
}

extern "C" void onSignal(int signal, siginfo_t* info, void*)
{
    const int saved = errno;
    // A write of this process's own that met a closed pipe or the file-size
    // limit: the write fails with EPIPE or EFBIG and is reported as such.
    if ((signal == SIGPIPE || signal == SIGXFSZ) && info && info->si_code == SI_USER
        && info->si_pid == ::getpid()) {
        errno = saved;
        return;
    }
    if (deferring.load()) {
        deferred.store(signal);
        errno = saved;
        return;
    }
    unlinkTaken();
    endBy(signal);
    errno = saved;
}

void useHandlers()
{
    std::lock_guard lock(installing);
    if (handlerUsers++ > 0)
        return;
    struct sigaction action {};
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int s : EndingSignals()) {
        struct sigaction now {};
        // A signal the process was told to ignore (nohup) stays ignored.
        installed[s] = ::sigaction(s, nullptr, &now) == 0 && now.sa_handler != SIG_IGN
                       && ::sigaction(s, &action, &previous[s]) == 0;
    }
}

void releaseHandlers()
{
    std::lock_guard lock(installing);
    if (--handlerUsers > 0)
        return;
    for (const int s : EndingSignals())
        if (installed[s]) {
            ::sigaction(s, &previous[s], nullptr);
            installed[s] = false;
        }
}

// A fresh name for a temporary file in folder; short, so that a long target
// name still leaves room for it.
std::string freshName(const std::string& folder)
{
    static std::mutex drawing;
    static std::mt19937_64 random(std::random_device{}() ^ static_cast<uint64_t>(::getpid()));
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string name = (folder.empty() ? std::string(".") : folder) + "/.veltrane-save-";
    std::lock_guard lock(drawing);
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
        ThrowNotWritten(name, ENAMETOOLONG, picture);
    for (int i = 0; i < kSlots; ++i) {
        int expected = Free;
        if (slots[i].state.compare_exchange_strong(expected, Taken)) {
            // A handler that sees the slot before its name is in place
            // unlinks a stale or empty name: harmless.
            std::memcpy(slots[i].path, temp.c_str(), temp.size() + 1);
            return i;
        }
    }
    ThrowNotWritten(name, "too many files are being written at once", picture);
}

void freeSlot(int slot) { slots[slot].state.store(Free); }

// What name finally refers to after the symbolic links at its end: the link
// stays and its target takes the bytes. A relative link target counts from
// the folder of the link. The result need not exist (a link to a file still
// to be made).
std::string followLinks(const std::string& name, bool picture)
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
                ThrowNotWritten(name, errno, picture);
            if (static_cast<size_t>(n) < target.size()) {
                target.resize(static_cast<size_t>(n));
                break;
            }
            target.resize(target.size() * 2);
        }
        if (target.empty())
            ThrowNotWritten(name, ENOENT, picture);
        path = target.front() == '/'
                   ? target
                   : (std::filesystem::path(path).parent_path() / target).string();
    }
    ThrowNotWritten(name, ELOOP, picture);
}

// A device, a pipe or anything else that is not a plain file cannot be
// replaced, and replacing it would destroy it: it takes the bytes as they
// come. Opening does not wait, so a pipe without a reader is a failure, not
// a program that hangs; the writes then wait as usual.
void writeInto(const std::string& name, const std::string& path,
               const std::vector<uint8_t>& bytes, bool picture)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        ThrowNotWritten(name, errno, picture);
    const int flags = ::fcntl(fd, F_GETFL);
    int error = flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ? errno : 0;
    if (error == 0)
        error = WriteAll(fd, bytes.data(), bytes.size());
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0)
        ThrowNotWritten(name, error, picture);
}

void checkName(const std::string& name, bool picture)
{
    if (name.empty())
        ThrowNotWritten(name, "the file name is empty", picture);
    if (!std::filesystem::path(name).has_filename())
        ThrowNotWritten(name, "the name ends with a folder separator", picture);
}

} // namespace

std::vector<int> EndingSignals()
{
    std::vector<int> list = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                             SIGFPE,  SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                             SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};
#ifdef SIGSTKFLT
    list.push_back(SIGSTKFLT);
#endif
    for (int s = SIGRTMIN; s <= SIGRTMAX && s < kMaxSignal; ++s)
        list.push_back(s);
    return list;
}

int WriteAll(int fd, const void* data, size_t size)
{
    // SIGPIPE is held back for the write, and one the write raised is taken
    // away again, so that a closed pipe is an EPIPE whoever handles signals.
    sigset_t pipeSignal, saved, pending;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &saved);
    sigpending(&pending);
    const bool wasPending = sigismember(&pending, SIGPIPE) == 1;

    const auto* bytes = static_cast<const uint8_t*>(data);
    int error = 0;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
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

SignalCleanup::SignalCleanup() { useHandlers(); }
SignalCleanup::~SignalCleanup() { releaseHandlers(); }

struct FileSet::Entry {
    std::string name, path;     // as given, and past its links
    int slot = -1;              // the temporary file, for a plain file
    std::vector<uint8_t> bytes; // for a pipe or a device, written at the commit
    bool picture = false;
};

FileSet::FileSet(SignalHandling signals) : signals_(signals)
{
    if (signals_ == SignalHandling::Remove)
        useHandlers();
}

FileSet::~FileSet()
{
    removeTemporaries();
    if (signals_ == SignalHandling::Remove)
        releaseHandlers();
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
    checkName(name, picture);
    Entry e{name, followLinks(name, picture), -1, {}, picture};
    struct stat st {};
    if (::lstat(e.path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            ThrowNotWritten(name, EISDIR, picture);
        if (!S_ISREG(st.st_mode)) {
            e.bytes = bytes;
            entries_.push_back(std::move(e));
            return;
        }
    }
    std::string folder = std::filesystem::path(e.path).parent_path().string();
    int fd = -1;
    while (fd < 0) {
        e.slot = takeSlot(folder, name, picture);
        // Created as any new file is, under the umask; a file it replaces
        // passes on its mode.
        fd = ::open(slots[e.slot].path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            const int error = errno;
            freeSlot(e.slot);
            e.slot = -1;
            if (error != EEXIST)
                ThrowNotWritten(name, error, picture);
        }
    }
    // The data must be on the disc before the new file takes the old one's
    // place, or a crash could leave neither.
    int error = WriteAll(fd, bytes.data(), bytes.size());
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
        ThrowNotWritten(name, error, picture);
    }
    entries_.push_back(std::move(e));
}

void FileSet::commit()
{
    // A pipe or a device cannot be replaced, nor wait for the others: it takes
    // its bytes first, as it stands, so that its failure changes nothing else.
    for (Entry& e : entries_)
        if (e.slot < 0)
            writeInto(e.name, e.path, e.bytes, e.picture);

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
    if (const int signal = deferred.exchange(0)) {
        if (failedAt < 0) {
            static const char kSaid[] =
                "The files are written whole; the signal that came while they were put in "
                "place ends the program now.\n";
            (void)!::write(STDERR_FILENO, kSaid, sizeof kSaid - 1);
        }
        unlinkTaken();
        endBy(signal);
    }
    if (failedAt >= 0)
        ThrowNotWritten(entries_[failedAt].name, error, entries_[failedAt].picture);
}

void WriteFileReplacing(const std::string& name, const std::vector<uint8_t>& bytes)
{
    FileSet file;
    file.add(name, bytes, true);
    file.commit();
}

} // namespace plots
