// The readers behind the Python keywords: any text for any option, any
// number, any path's bytes. Each is taken, or refused with a usage error of
// one short line naming the option; a number taken is finite.
#include "fuzz/message_check.h"
#include "model/errors.h"
#include "render/options.h"
#include "render/record.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const auto options = render::Options();
    const render::Option& o = options[data[0] % options.size()];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    render::Request request;
    try {
        // A text per value, split at blanks, as a list keyword's strings.
        std::vector<std::string> texts(1);
        for (char c : text) {
            if (c == ' ')
                texts.emplace_back();
            else
                texts.back() += c;
        }
        render::SetFromTexts(request, o, texts);
    } catch (const model::UsageError& e) {
        CheckMessage(e.what());
    }
    try {
        const double v = render::ReadStrictNumber("x", text);
        if (!std::isfinite(v))
            std::abort();
        // The same number as a float keyword.
        if (o.kind == render::ValueKind::Number || o.kind == render::ValueKind::WholeNumber) {
            std::vector<double> values(static_cast<size_t>(std::max(1, o.arity)), v);
            render::SetFromNumbers(request, o, values);
        }
    } catch (const model::UsageError& e) {
        CheckMessage(e.what());
    }
    try {
        if (render::FileArgument("picture", text) != text)
            std::abort();
        if (std::memchr(text.data(), 0, text.size()))
            std::abort();
    } catch (const model::UsageError& e) {
        if (!std::memchr(text.data(), 0, text.size()))
            std::abort();
        CheckMessage(e.what());
    }
    return 0;
}
