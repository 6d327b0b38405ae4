#include "render/record.h"

#include "model/errors.h"
#include "model/utf8.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <set>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace render {

namespace {

using model::UsageError;

constexpr size_t kDeepest = 256;

// A strict reading of JSON text (RFC 8259) that says where and what went
// wrong: the library's own parse then meets only text known to be sound.
class Checker {
public:
    explicit Checker(std::string_view text) : s_(text) {}

    void run()
    {
        // One frame per open array or object: its keys, for objects.
        struct Frame {
            bool object;
            std::set<std::string> keys;
        };
        std::vector<Frame> open;
        blanks();
        for (;;) {
            // A value.
            if (p_ >= s_.size())
                fail("a value (a number, a text in quotes, true, false, null, [ or {)");
            const char c = s_[p_];
            if (c == '[' || c == '{') {
                if (open.size() >= kDeepest)
                    fail("no deeper nesting (at most 256 levels)", false);
                ++p_;
                open.push_back({c == '{', {}});
                blanks();
                const char close = c == '{' ? '}' : ']';
                if (p_ < s_.size() && s_[p_] == close) {
                    ++p_;
                    open.pop_back();
                } else if (c == '{') {
                    key(open.back().keys);
                    continue;
                } else {
                    continue;
                }
            } else if (c == '"') {
                text();
            } else if (c == '-' || (c >= '0' && c <= '9')) {
                number();
            } else if (!word("true") && !word("false") && !word("null")) {
                fail("a value (a number, a text in quotes, true, false, null, [ or {)");
            }
            // What may follow a value.
            for (;;) {
                blanks();
                if (open.empty()) {
                    if (p_ < s_.size())
                        fail("the end of the text");
                    return;
                }
                Frame& f = open.back();
                const char close = f.object ? '}' : ']';
                if (p_ < s_.size() && s_[p_] == close) {
                    ++p_;
                    open.pop_back();
                    continue;
                }
                if (p_ < s_.size() && s_[p_] == ',') {
                    ++p_;
                    blanks();
                    if (f.object)
                        key(f.keys);
                    break;
                }
                fail(f.object ? "\",\" or \"}\"" : "\",\" or \"]\"");
            }
        }
    }

private:
    [[noreturn]] void fail(const std::string& expected, bool showFound = true) const
    {
        model::Error::Fields f;
        if (!showFound)
            f.text = "expected " + expected + ".";
        else if (p_ >= s_.size())
            f.text = "expected " + expected + ", found the end of the text.";
        else {
            f.text = "expected " + expected + ", found {}.";
            f.value = std::string(s_.substr(p_, 40));
        }
        fail(std::move(f));
    }

    void blanks()
    {
        while (p_ < s_.size()
               && (s_[p_] == ' ' || s_[p_] == '\t' || s_[p_] == '\n' || s_[p_] == '\r'))
            ++p_;
    }

    bool word(std::string_view w)
    {
        if (s_.substr(p_, w.size()) != w)
            return false;
        p_ += w.size();
        return true;
    }

    void key(std::set<std::string>& keys)
    {
        if (p_ >= s_.size() || s_[p_] != '"')
            fail("a key in quotes");
        const size_t at = p_;
        std::string name = text();
        if (!keys.insert(name).second) {
            p_ = at;
            model::Error::Fields f;
            f.text = "the key {} is given twice in one object.";
            f.value = std::move(name);
            fail(f);
        }
        blanks();
        if (p_ >= s_.size() || s_[p_] != ':')
            fail("\":\" after the key");
        ++p_;
        blanks();
    }

    [[noreturn]] void fail(model::Error::Fields f) const
    {
        long long line = 1, column = 1;
        for (size_t i = 0; i < p_; ++i) {
            if (s_[i] == '\n') {
                ++line;
                column = 1;
            } else if ((static_cast<unsigned char>(s_[i]) & 0xC0) != 0x80) {
                ++column;
            }
        }
        f.line = line;
        f.column = column;
        throw UsageError(std::move(f));
    }

    static int hex(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    // Four hex digits after "\u".
    unsigned unit()
    {
        unsigned u = 0;
        for (int k = 0; k < 4; ++k) {
            const int d = p_ < s_.size() ? hex(s_[p_]) : -1;
            if (d < 0)
                fail("four hex digits after \\u");
            u = u * 16 + static_cast<unsigned>(d);
            ++p_;
        }
        return u;
    }

    static void append(std::string& out, unsigned code)
    {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    // A text in quotes, at its opening quote; its decoded value.
    std::string text()
    {
        std::string out;
        ++p_;
        for (;;) {
            if (p_ >= s_.size())
                fail("the closing quote of the text");
            const auto c = static_cast<unsigned char>(s_[p_]);
            if (c == '"') {
                ++p_;
                return out;
            }
            if (c < 0x20) {
                model::Error::Fields f;
                f.text = "a control character cannot stand inside a text; write it as \\n, \\t "
                         "or \\u00XX.";
                fail(std::move(f));
            }
            if (c == '\\') {
                ++p_;
                const char e = p_ < s_.size() ? s_[p_] : '\0';
                static const std::string_view kEscapes = "\"\\/bfnrt";
                static const char kMeaning[] = "\"\\/\b\f\n\r\t";
                if (const size_t k = kEscapes.find(e); e != '\0' && k != std::string_view::npos) {
                    out += kMeaning[k];
                    ++p_;
                } else if (e == 'u') {
                    ++p_;
                    unsigned code = unit();
                    if (code >= 0xDC00 && code <= 0xDFFF)
                        fail("no lone low surrogate in a \\u escape", false);
                    if (code >= 0xD800 && code <= 0xDBFF) {
                        if (s_.substr(p_, 2) != "\\u")
                            fail("a low surrogate \\uDC00..\\uDFFF after a high one");
                        p_ += 2;
                        const unsigned low = unit();
                        if (low < 0xDC00 || low > 0xDFFF)
                            fail("a low surrogate \\uDC00..\\uDFFF after a high one", false);
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    }
                    append(out, code);
                } else {
                    fail("an escape: \\\", \\\\, \\/, \\b, \\f, \\n, \\r, \\t or \\uXXXX");
                }
                continue;
            }
            const size_t length = model::Utf8Length(s_, p_);
            if (length == 0)
                fail("text in UTF-8");
            out.append(s_.substr(p_, length));
            p_ += length;
        }
    }

    void number()
    {
        const size_t start = p_;
        auto digits = [&] {
            const size_t from = p_;
            while (p_ < s_.size() && s_[p_] >= '0' && s_[p_] <= '9')
                ++p_;
            return p_ - from;
        };
        if (s_[p_] == '-')
            ++p_;
        if (p_ < s_.size() && s_[p_] == '0')
            ++p_;
        else if (digits() == 0)
            fail("a digit");
        if (p_ < s_.size() && s_[p_] == '.') {
            ++p_;
            if (digits() == 0)
                fail("a digit after the decimal point");
        }
        bool negativeExponent = false;
        if (p_ < s_.size() && (s_[p_] == 'e' || s_[p_] == 'E')) {
            ++p_;
            if (p_ < s_.size() && (s_[p_] == '+' || s_[p_] == '-'))
                negativeExponent = s_[p_++] == '-';
            if (digits() == 0)
                fail("a digit in the exponent");
        }
        double v = 0;
        const auto [end, ec] = std::from_chars(s_.data() + start, s_.data() + p_, v);
        (void)end;
        // Too small a number is 0, as everywhere; too large is refused.
        if (ec == std::errc::result_out_of_range && !negativeExponent) {
            p_ = start;
            model::Error::Fields f;
            f.text = "the number is past the range of a double.";
            fail(std::move(f));
        }
    }

    std::string_view s_;
    size_t p_ = 0;
};

} // namespace

bool IsUtf8(std::string_view text)
{
    for (size_t i = 0; i < text.size();) {
        const size_t length = model::Utf8Length(text, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

nlohmann::json ParseRecord(std::string_view text)
{
    Checker(text).run();
    try {
        return nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception&) {
        // Not expected after the check; the library's words are not shown.
        throw UsageError("the record cannot be read as JSON.");
    }
}

nlohmann::json ReadRecordFile(const std::string& name)
{
    auto refuse = [&](std::string why, int error = 0) {
        model::Error::Fields f;
        f.record = name;
        f.text = "the job file {file} cannot be read";
        if (error != 0 && error != ENOENT)
            f.text += ": " + model::FileReason(error);
        f.text += why + ".";
        throw UsageError(std::move(f));
    };
    // Not blocking, so that a pipe with no writer is refused, not waited for.
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        refuse("", errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool folder = S_ISDIR(st.st_mode);
        ::close(fd);
        refuse(folder ? ": it is a folder" : ": it is not a plain file (a pipe or a device)");
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            refuse("", error);
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    try {
        return ParseRecord(text);
    } catch (const UsageError& e) {
        model::Error::Fields f = e.fields();
        f.record = name;
        throw UsageError(std::move(f));
    }
}

std::string FileArgument(std::string_view argument, std::string_view name)
{
    if (name.find('\0') != std::string_view::npos) {
        model::Error::Fields f;
        f.option = std::string(argument);
        f.text = "the file name {} holds a NUL character, which no file name may hold.";
        f.value = std::string(name);
        throw UsageError(std::move(f));
    }
    return std::string(name);
}

nlohmann::json PathToJson(const std::string& name)
{
    if (IsUtf8(name))
        return name;
    std::string text;
    for (size_t i = 0; i < name.size();) {
        const size_t length = model::Utf8Length(name, i);
        if (length == 0) {
            static const char kHex[] = "0123456789ABCDEF";
            const auto b = static_cast<unsigned char>(name[i]);
            text += "\\x";
            text += kHex[b >> 4];
            text += kHex[b & 15];
            ++i;
        } else {
            if (name[i] == '\\')
                text += '\\';
            text.append(name, i, length);
            i += length;
        }
    }
    return nlohmann::json{{"escaped", text}};
}

std::string PathFromJson(const nlohmann::json& value, const std::string& key)
{
    if (value.is_string())
        return value.get<std::string>();
    auto refuse = [&] {
        model::Error::Fields f;
        f.text = "{} must be a file name: a text, or {\"escaped\": TEXT}.";
        f.value = key;
        throw UsageError(std::move(f));
    };
    if (!value.is_object() || value.size() != 1 || !value.contains("escaped")
        || !value["escaped"].is_string())
        refuse();
    const std::string text = value["escaped"].get<std::string>();
    std::string name;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            name += text[i];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\\') {
            name += '\\';
            ++i;
            continue;
        }
        auto hex = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        };
        if (i + 3 >= text.size() || text[i + 1] != 'x' || hex(text[i + 2]) < 0
            || hex(text[i + 3]) < 0)
            refuse();
        name += static_cast<char>(hex(text[i + 2]) * 16 + hex(text[i + 3]));
        i += 3;
    }
    return name;
}

} // namespace render
