// veltrane-render: one picture per command line, without the window.
#include "render/command_line.h"

#include <iostream>

int main(int argc, char** argv)
{
    return render::Main(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
