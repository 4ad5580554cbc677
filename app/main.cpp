#include "app/command_line.hpp"

int main(int argc, char** argv) {
    return runCommandLine(argc, argv);
}
