#include "record/step_record.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "link_functions.h"
#include "os/program_args.h"
#include "record/kill_watch.h"
#include "record/record_file.h"

namespace {

struct Record {
    bool active = false;
    bool written = false;
    std::string path;
    std::chrono::steady_clock::time_point start;
    std::string head;      // "time", "program", "args"
    std::string link = "null";
    std::string open = "null";
    std::string events;    // the event objects, comma separated
    std::string out;       // standard output as printed
    std::string showing;   // the popup on screen now, as an event without its answer
};

Record record;
// Held by every change to the record and by its writing: a step killed at any moment (on the
// kill watch's thread) writes a whole, consistent record, once.
std::mutex recordLock;

double millisecondsSinceStart() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - record.start).count();
}

std::string number(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", ms);
    return text;
}

// Computed with calendar arithmetic alone: the C library's gmtime and strftime would read
// the time zone database at every run.
std::string rfc3339Now() {
    using namespace std::chrono;
    auto now = time_point_cast<milliseconds>(system_clock::now());
    auto day = floor<days>(now);
    year_month_day date{day};
    hh_mm_ss<milliseconds> time{now - day};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02lld.%03lldZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                  static_cast<long long>(time.seconds().count()), static_cast<long long>(time.subseconds().count()));
    return text;
}

std::string hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Length of the valid UTF-8 sequence at the start of `s`, or 0 when it is not one.
size_t utf8Sequence(std::string_view s) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    auto continuation = [&](size_t i) { return i < s.size() && (byte(i) & 0xC0) == 0x80; };
    unsigned char b = byte(0);
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) return continuation(1) ? 2 : 0;
    if (b >= 0xE0 && b <= 0xEF) {
        if (!continuation(1) || !continuation(2)) return 0;
        if (b == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
        if (b == 0xED && byte(1) >= 0xA0) return 0;  // a surrogate
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
        if (b == 0xF0 && byte(1) < 0x90) return 0;   // overlong
        if (b == 0xF4 && byte(1) >= 0x90) return 0;  // beyond U+10FFFF
        return 4;
    }
    return 0;
}

// Under recordLock.
void appendEvent(const std::string& fields) {
    if (!record.events.empty()) record.events += ',';
    record.events += '{';
    record.events += fields;
    record.events += '}';
}

void addEvent(const std::string& fields) {
    std::lock_guard<std::mutex> hold(recordLock);
    appendEvent(fields);
}

// Link bytes: exactly, as hex, and for reading as text (U+FFFD where they are not UTF-8).
std::string bytesFields(std::string_view bytes) {
    return "\"hex\":\"" + hex(bytes) + "\",\"text\":" + JsonString(bytes);
}

std::string eventTimes(double startMs) {
    return "\"at_ms\":" + number(startMs) + ",\"took_ms\":" + number(millisecondsSinceStart() - startMs);
}

void writeKilled(const char* name, long long status);

std::string popupFields(const char* title, const char* text) {
    return ",\"kind\":\"popup\"," + TextField("title", title != nullptr ? title : "") + "," +
           TextField("text", text != nullptr ? text : "");
}

void start(int argc, char** argv) {
    const char* path = std::getenv("STEPTOOLS_RECORD");
    if (path == nullptr || *path == '\0') return;
    record.active = true;
    record.path = path;
    WatchForKill(writeKilled);
    record.start = std::chrono::steady_clock::now();
    record.head = "\"time\":" + JsonString(rfc3339Now()) + "," + TextField("program", ProgramName(argc > 0 ? ArgumentText(argv[0]).c_str() : nullptr));
    std::string args, argsHex;
    bool allUtf8 = true;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            args += ',';
            argsHex += ',';
        }
        std::string text = ArgumentText(argv[i]);  // as the caller wrote it, in UTF-8 where it was
        args += JsonString(text);
        argsHex.append("\"").append(hex(text)).append("\"");
        allUtf8 = allUtf8 && IsUtf8(text);
    }
    record.head += ",\"args\":[" + args + "]";
    if (!allUtf8) record.head += ",\"args_hex\":[" + argsHex + "]";
}

// Appends the line in one write under an exclusive lock, so that programs that run at once
// on one station never interleave or lose a line. A record that cannot be written costs a
// warning and nothing else.
void write(long long status, const char* killed = nullptr) {
    if (!record.active || record.written) return;
    record.written = true;
    std::string events = record.events;
    if (!record.showing.empty()) events += (events.empty() ? "" : ",") + record.showing;
    std::string line = "{" + record.head + ",\"link\":" + record.link + ",\"open\":" + record.open + ",\"events\":[" +
                       events + "]," + TextField("stdout", record.out) + ",\"exit\":" +
                       std::to_string(killed != nullptr ? status : (status & 0xFF)) +
                       (killed != nullptr ? ",\"killed\":" + JsonString(killed) : std::string()) +
                       ",\"ms\":" + number(millisecondsSinceStart()) + "}\n";
    std::string failure;
    if (!AppendWhole(record.path, line, failure))
        std::fprintf(stderr, "steptools: cannot write the step record to %s: %s\n", record.path.c_str(), failure.c_str());
}

// A step ended by a signal or a console event: the record of what happened so far.
void writeKilled(const char* name, long long status) {
    std::fflush(stdout);
    std::lock_guard<std::mutex> hold(recordLock);
    write(status, name);
}

}  // namespace

std::string JsonString(std::string_view bytes) {
    std::string out = "\"";
    for (size_t i = 0; i < bytes.size();) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        size_t length = utf8Sequence(bytes.substr(i));
        char escape[8];
        if (length == 0) {
            out += "\\uFFFD";  // the replacement character; the field's "_hex" twin has the byte
            i += 1;
            continue;
        }
        if (b == '"') out += "\\\"";
        else if (b == '\\') out += "\\\\";
        else if (b == '\n') out += "\\n";
        else if (b == '\r') out += "\\r";
        else if (b == '\t') out += "\\t";
        else if (b < 0x20 || b == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", b);
            out += escape;
        } else {
            out.append(bytes.substr(i, length));
        }
        i += length;
    }
    out += '"';
    return out;
}

bool IsUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        size_t length = utf8Sequence(bytes.substr(i));
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string TextField(const char* name, std::string_view bytes) {
    std::string field = std::string("\"") + name + "\":" + JsonString(bytes);
    if (!IsUtf8(bytes)) field += std::string(",\"") + name + "_hex\":\"" + hex(bytes) + "\"";
    return field;
}

int RunRecorded(int argc, char** argv, int (*body)(int, char**)) {
    TakeArguments(argc, argv);
    start(argc, argv);
    int status = body(argc, argv);
    std::fflush(stdout);
    std::lock_guard<std::mutex> hold(recordLock);
    write(status);
    return status;
}

void RecordExit(int status) {
    std::fflush(stdout);
    std::lock_guard<std::mutex> hold(recordLock);
    write(status);
}

bool Recording() {
    return record.active;
}

double RecordClock() {
    return record.active ? millisecondsSinceStart() : 0;
}

void RecordSerialLink(const std::string& port, const std::string& device, long baud) {
    if (!record.active) return;
    std::lock_guard<std::mutex> hold(recordLock);
    record.link = "{\"kind\":\"serial\"," + TextField("port", port) + "," + TextField("device", device) +
                  ",\"baud\":" + std::to_string(baud) + "}";
}

void RecordTelnetLink(const std::string& host, int port) {
    if (!record.active) return;
    std::lock_guard<std::mutex> hold(recordLock);
    record.link = "{\"kind\":\"telnet\"," + TextField("host", host) + ",\"port\":" + std::to_string(port) + "}";
}

void RecordOpen(int result) {
    if (!record.active) return;
    std::lock_guard<std::mutex> hold(recordLock);
    record.open = std::to_string(result);
}

void RecordSend(double startMs, std::string_view bytes, int result) {
    if (!record.active) return;
    addEvent(eventTimes(startMs) + ",\"kind\":\"send\"," + bytesFields(bytes) + ",\"result\":" + std::to_string(result));
}

void RecordRead(double startMs, std::string_view bytes, int result) {
    if (!record.active) return;
    addEvent(eventTimes(startMs) + ",\"kind\":\"read\"," + bytesFields(bytes) + ",\"result\":" + std::to_string(result));
}

void RecordPopupShown(double startMs, const char* title, const char* text) {
    if (!record.active) return;
    std::string shown = "{\"at_ms\":" + number(startMs) + popupFields(title, text) + ",\"answer\":null}";
    std::lock_guard<std::mutex> hold(recordLock);
    record.showing = shown;
}

void RecordPopup(double startMs, const char* title, const char* text, int answer) {
    if (!record.active) return;
    std::string event = eventTimes(startMs) + popupFields(title, text) + ",\"answer\":" + std::to_string(answer);
    std::lock_guard<std::mutex> hold(recordLock);  // answered and no longer on screen at once
    record.showing.clear();
    appendEvent(event);
}

void RecordStdout(std::string_view text) {
    if (!record.active) return;
    std::lock_guard<std::mutex> hold(recordLock);
    record.out.append(text);
}
