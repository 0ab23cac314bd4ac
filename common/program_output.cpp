#include "program_output.h"

#include <cstdio>

#include "record/step_record.h"

void PrintOutput(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    RecordStdout(text);
}
