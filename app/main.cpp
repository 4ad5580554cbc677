#include "app/command_line.hpp"

int main(int argc, char** argv) {
    return keelwave::app::runCommandLine(argc, argv);
}
