// What every message the fuzz targets meet must be: one line, of bounded
// length, whatever text went in.
#pragma once

#include <cstdlib>
#include <string>

inline void CheckMessage(const std::string& message)
{
    if (message.empty() || message.size() > 600 || message.find('\n') != std::string::npos
        || message.find('\r') != std::string::npos)
        std::abort();
}
