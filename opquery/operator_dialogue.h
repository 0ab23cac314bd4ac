// The operator dialogue of opquery_multi and opquery: the message, then the question.
#pragma once

// Shows `message` (unless null or beginning with "!") and asks `question` (unless it
// begins with "!"). `status` enters with the link's status and leaves with the result of
// the last popup shown; a 0 left by the message becomes 1. Returns the operator verdict:
// 1 when the operator said Yes, or, with the question suppressed, when the message was
// not shown or was dismissed normally; else 0.
int AskOperator(const char* question, const char* message, int& status);
