// What opquery_multi and opquery share: their first six arguments and the operator
// dialogue, the message and then the question.
#pragma once

#include "link_functions.h"

// Arguments 1 to 6 of both programs; the caller has checked that the first five are there.
struct QueryArguments {
    const char* question;  // beginning with "!": not asked
    const char* message;   // beginning with "!": not shown
    const char* expected;
    const char* command;
    PortSpec port;
    double timeout;        // seconds, 2.0 when absent
};
QueryArguments ReadQueryArguments(int argc, char** argv);

// Shows `message` (unless null or beginning with "!") and asks `question` (unless it
// begins with "!"). `status` enters with the link's status and leaves with the result of
// the last popup shown; a 0 left by the message becomes 1. Returns the operator verdict:
// 1 when the operator said Yes, or, with the question suppressed, when the message was
// not shown or was dismissed normally; else 0.
int AskOperator(const char* question, const char* message, int& status);
