// Any argument vector (arguments separated by NUL bytes) gives a request the
// checks accept, the help, or a usage error of one short line; nothing else
// escapes.
#include "fuzz/message_check.h"
#include "model/errors.h"
#include "render/command_line.h"
#include "render/options.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> args(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back() += static_cast<char>(data[i]);
    }
    // A job record is read from the disc: no fuzzed name reaches it.
    for (const std::string& a : args)
        if (a.rfind("--from", 0) == 0)
            return 0;
    try {
        bool help = false;
        const render::Request request = render::ParseRequest(args, &help);
        if (!help)
            render::CheckRequest(request);
    } catch (const model::UsageError& e) {
        CheckMessage(e.what());
    }
    return 0;
}
