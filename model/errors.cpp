#include "model/errors.h"
#include "model/utf8.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace model {

namespace {

std::string escaped(std::string_view text, size_t limit)
{
    std::string out = "\"";
    size_t shown = 0, i = 0;
    for (; i < text.size() && shown < limit; ++shown) {
        const size_t length = Utf8Length(text, i);
        const auto c = static_cast<unsigned char>(text[i]);
        if (length == 0 || c < 0x20 || c == 0x7F) {
            const char* named = c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : nullptr;
            char buf[8];
            if (!named)
                std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += named ? named : buf;
            ++i;
        } else {
            if (c == '"' || c == '\\')
                out += '\\';
            out.append(text.substr(i, length));
            i += length;
        }
    }
    out += '"';
    if (i < text.size())
        out += "...";
    return out;
}

// "{}" in a text stands for the value, quoted.
std::string withValue(const Error::Fields& f)
{
    const size_t at = f.text.find("{}");
    if (at == std::string::npos)
        return f.text;
    return f.text.substr(0, at) + Quoted(f.value) + f.text.substr(at + 2);
}

} // namespace

size_t Utf8Length(std::string_view s, size_t i)
{
    const auto b = static_cast<unsigned char>(s[i]);
    const size_t length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > s.size())
        return 0;
    uint32_t code = length == 1 ? b : b & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (c & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

std::string Quoted(std::string_view text, size_t limit) { return escaped(text, limit); }

std::string QuotedPath(std::string_view path) { return escaped(path, std::string_view::npos); }

std::string FileReason(int error)
{
    switch (error) {
    case ENOENT: return "the folder does not exist";
    case ENOTDIR: return "a part of the path is not a folder";
    case EACCES:
    case EPERM: return "there is no permission to write there";
    case ENOSPC:
    case EDQUOT: return "there is not enough space on the disc";
    case EFBIG: return "the file is too large";
    case EISDIR:
    case ENOTEMPTY: return "a folder of that name exists";
    case EEXIST: return "something else took its place";
    case EROFS: return "the disc is read-only";
    case ENAMETOOLONG: return "the name is too long";
    case ELOOP: return "its symbolic links go round in a loop";
    case ENXIO: return "nothing is reading from it";
    case EPIPE: return "its reader has gone";
    case EIO: return "the device reported an input/output error";
    case ETXTBSY: return "it is a program that is running";
    case EMFILE:
    case ENFILE: return "too many files are open";
    case EINVAL: return "the name is not allowed there";
    case EXDEV: return "its link leads to another file system";
    default: break;
    }
    // strerror's text is the C library's; quoted as any foreign text.
    return "error " + std::to_string(error) + " " + Quoted(std::strerror(error));
}

[[noreturn]] void ThrowNotWritten(const std::string& name, int error, bool picture)
{
    Error::Fields f;
    f.path = name;
    f.error = error;
    f.picture = picture;
    throw RuntimeError(Error::Kind::FileNotWritten, std::move(f));
}

[[noreturn]] void ThrowNotWritten(const std::string& name, std::string reason, bool picture)
{
    Error::Fields f;
    f.path = name;
    f.text = std::move(reason);
    f.picture = picture;
    throw RuntimeError(Error::Kind::FileNotWritten, std::move(f));
}

std::string Describe(const Error& e)
{
    const Error::Fields& f = e.fields();
    if (e.kind() == Error::Kind::FileNotWritten) {
        const std::string reason = f.error != 0 ? FileReason(f.error) : f.text;
        return f.picture ? "The picture could not be saved as " + QuotedPath(f.path) + ": "
                               + reason + "."
                         : "The file " + QuotedPath(f.path) + " could not be written: "
                               + reason + ".";
    }
    std::string message = withValue(f);
    // "{file}" places the job record or the file inside the sentence.
    if (const size_t at = message.find("{file}"); at != std::string::npos)
        return message.substr(0, at) + QuotedPath(f.record.empty() ? f.path : f.record)
               + message.substr(at + 6);
    if (!f.option.empty())
        message = f.option + ": " + message;
    if (f.line > 0)
        message = "line " + std::to_string(f.line) + ", column " + std::to_string(f.column)
                  + ": " + message;
    if (f.step >= 0)
        message += " At step " + std::to_string(f.step) + ".";
    if (!f.record.empty())
        message = "the job file " + QuotedPath(f.record) + ": " + message;
    else if (!f.path.empty())
        message = QuotedPath(f.path) + ": " + message;
    return message;
}

const char* Error::what() const noexcept
{
    if (message_.empty()) {
        try {
            message_ = Describe(*this);
        } catch (...) {
            return "An error (no memory was left to describe it).";
        }
    }
    return message_.c_str();
}

} // namespace model
