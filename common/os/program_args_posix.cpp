#include "os/program_args.h"

void TakeArguments(int&, char**&) {}

std::string ArgumentText(const char* text) {
    return text != nullptr ? text : "";
}
