// Step records. With STEPTOOLS_RECORD=<path> set, every run appends one JSON object on one
// line to that file: the arguments, the link and its open, what was sent and read, the
// popups and their answers, the output and the exit status. Unset, every call here returns
// at once and nothing is written.
//
// Texts are JSON strings. A text that is not valid UTF-8 has each offending byte shown as
// U+FFFD in its string, and its exact bytes in a companion field named after it with
// "_hex" (lower-case hex), so that every JSON parser reads the record and no byte is lost:
// "text" and "text_hex", "stdout" and "stdout_hex", "args" and "args_hex" (a list). Bytes
// sent and read are in "hex", and for reading also in "text".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Runs a program's body under a record: takes the arguments (os/program_args.h),
// starts the record, runs `body`, and writes it with the status that `body` returns
// (which it passes on).
int RunRecorded(int argc, char** argv, int (*body)(int, char**));

// Writes the record of a run that ends through exit() with `status` (the usage path).
void RecordExit(int status);

// Whether this run keeps a record.
bool Recording();

// Milliseconds since the run's start (0 when not recording): the start of an event.
double RecordClock();

void RecordSerialLink(const std::string& port, const std::string& device, long baud);
void RecordTelnetLink(const std::string& host, int port);
void RecordOpen(int result);

// An event that began at `startMs` (from RecordClock) and ends now.
void RecordSend(double startMs, std::string_view bytes, int result);
void RecordRead(double startMs, std::string_view bytes, int result);
void RecordPopup(double startMs, const char* title, const char* text, int answer);
// A popup now on screen: a step killed before it is answered records it with answer null.
void RecordPopupShown(double startMs, const char* title, const char* text);

// What the program printed on standard output.
void RecordStdout(std::string_view text);

// The JSON string for `bytes` (quotes included); bytes that are not UTF-8 become U+FFFD.
std::string JsonString(std::string_view bytes);

// Whether `bytes` is valid UTF-8 throughout.
bool IsUtf8(std::string_view bytes);

// `"name":"..."` for a text, followed by `,"name_hex":"..."` when it is not valid UTF-8.
std::string TextField(const char* name, std::string_view bytes);
