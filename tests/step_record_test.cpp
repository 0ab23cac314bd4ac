// Step records end to end: each run appends one JSON line that says what the program really
// did, compared with its output, its status and the device simulator's log of the bytes.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>

#include "log_escape.h"
#include "record/step_record.h"
#include "test_support.h"

using nlohmann::json;

namespace {

DevSim& Device() {
    static DevSim sim({"--pty", "COM7", "--telnet", "0", "--negotiate", "--eol", "crlf",
                       "ID?=>say:DEV 7",
                       "LETTERS=>raw:ABCDEwxyzQR",
                       "GETSN=>say:SN WXYZ",
                       "getmac=>say:MAC 00-1A-2B-3C-4D-5E",
                       "hex:0102=>hex:0304"});
    return sim;
}

std::vector<json> ReadRecords(const std::string& path) {
    std::vector<json> records;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) records.push_back(json::parse(line));
    return records;
}

std::string Unhex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

// Whether the simulator's log shows `bytes` going `direction` ("rx" or "tx") on `link`,
// joining the chunks in which they crossed.
bool DeviceLogShows(const std::string& link, const std::string& direction, const std::string& bytes) {
    std::string prefix = link + " " + direction + " ";
    for (int i = 0; i < 500; ++i) {
        std::string all, log = Device().log();
        for (size_t at = log.find(prefix); at != std::string::npos; at = log.find(prefix, at + 1))
            if (at == 0 || log[at - 1] == '\n') all += log.substr(at + prefix.size(), log.find('\n', at) - at - prefix.size());
        if (all.find(LogEscaped(bytes)) != std::string::npos) return true;
        usleep(10000);
    }
    return false;
}

struct RecordCase {
    std::string name, program;
    std::vector<std::string> args;   // "LINK": the simulator's serial port or Telnet port
    bool telnet;
    std::vector<std::pair<std::string, std::string>> operatorSteps;  // prompt, keys
    std::vector<std::string> kinds;  // the events, in order
};

class StepRecords : public ::testing::TestWithParam<RecordCase> {};

TEST_P(StepRecords, SayWhatTheProgramDid) {
    const RecordCase& c = GetParam();
    if (!c.operatorSteps.empty()) SKIP_UNDER_WINE(kWineConsole);
    std::string path = MakeTempDir() + "/steps.jsonl";
    std::vector<std::string> args = c.args;
    for (std::string& a : args)
        if (a == "LINK") a = Device().linkSpec(c.telnet);
    auto env = Device().env();
    env["STEPTOOLS_RECORD"] = path;
    ProgramRun run(c.program, args, env, !c.operatorSteps.empty());
    for (const auto& [prompt, keys] : c.operatorSteps) {
        ASSERT_TRUE(run.waitTerminal(prompt)) << run.terminalText();
        run.typeTerminal(keys);
    }
    RunResult r = run.finish();

    std::vector<json> records = ReadRecords(path);
    ASSERT_EQ(records.size(), 1u);
    const json& rec = records[0];
    EXPECT_EQ(rec["program"], c.program);
    EXPECT_EQ(rec["args"].get<std::vector<std::string>>(), args);
    EXPECT_EQ(rec["stdout"], r.out);
    EXPECT_EQ(rec["exit"], r.status);
    EXPECT_GT(rec["ms"].get<double>(), 0);
    EXPECT_EQ(rec["time"].get<std::string>().size(), 24u) << rec["time"];  // 2026-12-10T06:30:00.123Z

    if (c.program == "opquery_multi_responses" && args[4] == "COM9") {
        // On Windows COM9 is a reserved name in every folder: the device is shown as looked up.
        if (!UnderWine()) {
            EXPECT_EQ(rec["link"], json::parse(R"({"kind":"serial","port":"COM9","device":"/dev/ttyS8","baud":9600})"));
        }
        EXPECT_EQ(rec["link"]["port"], "COM9");
        EXPECT_EQ(rec["open"], -4);
    } else if (args.size() < 3 || (c.program != "serial" && args.size() < 5)) {
        EXPECT_TRUE(rec["link"].is_null());  // a usage error opens nothing
    } else if (c.telnet) {
        EXPECT_EQ(rec["link"]["kind"], "telnet");
        EXPECT_EQ(rec["link"]["port"], Device().telnetPort());
        EXPECT_EQ(rec["open"], 0);
    } else {
        EXPECT_EQ(rec["link"]["kind"], "serial");
        std::string device = Device().portDir() + "/COM7";
        if (UnderWine()) {
            // The same pty, as the Windows program opened it: through Wine's drive Z:.
            for (char& ch : device)
                if (ch == '/') ch = '\\';
            device = "\\\\?\\Z:" + device;
        }
        EXPECT_EQ(rec["link"]["device"], device);
        EXPECT_EQ(rec["open"], 0);
    }

    std::vector<std::string> kinds;
    double last = 0;
    for (const json& e : rec["events"]) {
        kinds.push_back(e["kind"]);
        EXPECT_GE(e["at_ms"].get<double>(), last) << "events out of order";
        last = e["at_ms"].get<double>();
        std::string link = c.telnet ? "telnet" : "pty";
        if (e["kind"] == "send") {
            EXPECT_TRUE(DeviceLogShows(link, "rx", Unhex(e["hex"]))) << "not what the device got: " << e;
        } else if (e["kind"] == "read" && e["result"].get<int>() > 0) {
            EXPECT_TRUE(DeviceLogShows(link, "tx", Unhex(e["hex"]))) << "not what the device sent: " << e;
        } else if (e["kind"] == "popup") {
            EXPECT_TRUE(e.contains("title") && e.contains("text") && e.contains("answer")) << e;
        }
    }
    EXPECT_EQ(kinds, c.kinds) << rec.dump();
}

const std::pair<std::string, std::string> kNo = {"Answer y", "n\n"};

INSTANTIATE_TEST_SUITE_P(
    Table, StepRecords,
    ::testing::Values(
        RecordCase{"Pass", "opquery_multi", {"!q", "!m", "DEV", "ID?", "LINK"}, false, {}, {"send", "read"}},
        RecordCase{"Mismatch", "opquery_multi", {"!q", "!m", "XYZ", "ID?", "LINK"}, false, {}, {"send", "read"}},
        RecordCase{"OperatorSaysNo", "opquery_multi", {"Lamp lit?", "!m", "DEV", "ID?", "LINK"}, false, {kNo},
                   {"send", "popup", "read"}},
        RecordCase{"FailedOpen", "opquery_multi_responses", {"Boot", "!m", "OK_", "INIT", "COM9"}, false, {}, {}},
        RecordCase{"UsageError", "opquery", {"q", "m"}, false, {}, {"popup"}},
        RecordCase{"TelnetStep", "opquery_multi", {"!q", "!m", "DEV", "ID?", "LINK"}, true, {}, {"send", "read"}},
        RecordCase{"TelnetHexBlockRead", "opquery", {"!q", "!m", "DEV", "ID?", "LINK"}, true, {}, {"send", "read"}},
        RecordCase{"SerialBang", "serial", {"LINK", "ID?", "!"}, false, {}, {"send", "read"}},
        RecordCase{"SerialQuestion", "serial", {"LINK", "ID?", "?", "x", "0.2"}, false, {}, {"send", "read"}},
        RecordCase{"SerialLowerC", "serial", {"LINK", "LETTERS", "c", "x", "0.2"}, false, {}, {"send", "read"}},
        RecordCase{"SerialBinary", "serial", {"LINK", "0102", "0304", "binary", "0.2"}, false, {}, {"send", "read"}},
        RecordCase{"SerialText", "serial", {"LINK", "ID?", "dev", "x", "0.2"}, false, {}, {"send", "read"}},
        RecordCase{"SerialResultSize", "serial", {"LINK", "GETSN", "SN", "x", "0.2", "4"}, false, {}, {"send", "read"}},
        RecordCase{"SerialMode2Mismatch", "serial", {"LINK", "ID?", "XYZ", "2", "0.2"}, false, {}, {"send", "read"}},
        RecordCase{"SerialMac", "serial", {"LINK", "getmac", "MAC 00:1a:2b:3c:4d:5e", "x", "0.2"}, false, {},
                   {"send", "read"}},
        RecordCase{"SerialUsage", "serial", {"LINK"}, false, {}, {}}),
    [](const auto& info) { return info.param.name; });

TEST(StepRecord, ReadKeepsTheTerminatorItConsumedAndPopupsTheirAnswers) {
    SKIP_UNDER_WINE(kWineConsole);
    std::string path = MakeTempDir() + "/steps.jsonl";
    auto env = Device().env();
    env["STEPTOOLS_RECORD"] = path;
    ProgramRun run("opquery_multi", {"Lamp lit?", "Look at the lamp", "DEV", "ID?", "COM7,115200"}, env, true);
    ASSERT_TRUE(run.waitTerminal("Press Enter"));
    run.typeTerminal("\n");
    ASSERT_TRUE(run.waitTerminal("Answer y"));
    run.typeTerminal("y\n");
    EXPECT_EQ(run.finish().out, "1\n");
    json rec = ReadRecords(path).at(0);
    const json& events = rec["events"];
    ASSERT_EQ(events.size(), 4u) << rec;
    EXPECT_EQ(events[0]["hex"], "49443f0d");  // ID? CR, as written
    EXPECT_EQ(events[0]["result"], 4);
    EXPECT_EQ(events[1]["title"], "Message");
    EXPECT_EQ(events[1]["text"], "Look at the lamp");
    EXPECT_EQ(events[1]["answer"], 1);  // OK
    EXPECT_EQ(events[2]["title"], "Question");
    EXPECT_EQ(events[2]["answer"], 1);  // Yes
    EXPECT_EQ(events[3]["hex"], "44455620370d");  // DEV 7 and the CR that ended the read
    EXPECT_EQ(events[3]["text"], "DEV 7\r");
    EXPECT_EQ(events[3]["result"], 5);
}

TEST(StepRecord, TextsInAnyScriptAreKept) {
    std::string path = MakeTempDir() + "/steps.jsonl";
    RunProgram("opquery_multi", {"Czy lampka świeci?", "ż 中 Горит"}, {{"STEPTOOLS_RECORD", path}});
    json rec = ReadRecords(path).at(0);
    EXPECT_EQ(rec["args"][0], "Czy lampka świeci?");
    EXPECT_EQ(rec["args"][1], "ż 中 Горит");
    EXPECT_FALSE(rec.contains("args_hex"));
}

TEST(StepRecord, TextsThatAreNotUtf8StayValidJsonAndLossless) {
    SKIP_UNDER_WINE(kWineUtf8Arguments);
    std::string path = MakeTempDir() + "/steps.jsonl";
    std::string bad = "caf\xE9 \xFF\xFE";
    RunProgram("opquery_multi", {bad, "ż 中"}, {{"STEPTOOLS_RECORD", path}});
    json rec = ReadRecords(path).at(0);  // parses: valid JSON
    EXPECT_EQ(rec["args"][0], "caf\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(rec["args"][1], "ż 中");
    EXPECT_EQ(Unhex(rec["args_hex"][0]), bad);
    EXPECT_EQ(Unhex(rec["args_hex"][1]), "ż 中");
}

TEST(StepRecord, JsonStringEscapes) {
    struct Case {
        std::string bytes, json;
    };
    for (const Case& c : {Case{"plain", "\"plain\""}, Case{"a\"b\\c", "\"a\\\"b\\\\c\""},
                          Case{"\r\n\t", "\"\\r\\n\\t\""}, Case{std::string("\x01\x00\x7F", 3), "\"\\u0001\\u0000\\u007f\""},
                          Case{"żółw 中文 ✓", "\"żółw 中文 ✓\""},
                          Case{"\xFF", "\"\\uFFFD\""},                  // never UTF-8
                          Case{"\xE4\xB8", "\"\\uFFFD\\uFFFD\""},       // cut short
                          Case{"\xC0\xAF", "\"\\uFFFD\\uFFFD\""},       // overlong
                          Case{"\xED\xA0\x80", "\"\\uFFFD\\uFFFD\\uFFFD\""}}) {  // a surrogate
        EXPECT_EQ(JsonString(c.bytes), c.json) << c.json;
        EXPECT_NO_THROW(json::parse(JsonString(c.bytes)));
    }
    EXPECT_EQ(TextField("text", "ok"), "\"text\":\"ok\"");
    EXPECT_EQ(TextField("text", "\xFF"), "\"text\":\"\\uFFFD\",\"text_hex\":\"ff\"");
}

TEST(StepRecord, ProgramsRunningAtOnceNeverInterleaveOrLoseALine) {
    std::string path = MakeTempDir() + "/steps.jsonl";
    auto env = Device().env();
    env["STEPTOOLS_RECORD"] = path;
    // Records larger than a pipe's atomic write, so that only the lock keeps them whole.
    std::string message = "!" + std::string(20000, 'm');
    constexpr int kPrograms = 8, kRounds = 4;
    std::set<std::string> expected;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::unique_ptr<ProgramRun>> runs;
        for (int i = 0; i < kPrograms; ++i) {
            std::string tag = "!q" + std::to_string(round * kPrograms + i);
            expected.insert(tag);
            runs.push_back(std::make_unique<ProgramRun>(
                "opquery_multi", std::vector<std::string>{tag, message, "DEV", "ID?", Device().telnetSpec()}, env));
        }
        for (auto& run : runs) EXPECT_EQ(run->finish().out, "1\n");
    }
    std::vector<json> records = ReadRecords(path);  // every line parses
    std::set<std::string> tags;
    for (const json& rec : records) tags.insert(rec["args"][0]);
    EXPECT_EQ(records.size(), static_cast<size_t>(kPrograms * kRounds));
    EXPECT_EQ(tags, expected);
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// How many connections to 127.0.0.1:`port` wait for their answer (SYN_SENT in /proc/net/tcp).
size_t PendingConnects(unsigned short port) {
    char remote[32];
    std::snprintf(remote, sizeof remote, "0100007F:%04X 02", port);
    std::ifstream tcp("/proc/net/tcp");
    std::string all((std::istreambuf_iterator<char>(tcp)), std::istreambuf_iterator<char>());
    return Count(all, remote);
}

// A step that a sequencer ends still leaves its record: what happened so far, the popup on
// screen, and the signal; and the process ends as that signal ends it.
TEST(StepRecord, KilledStepLeavesItsRecord) {
    SKIP_UNDER_WINE("Wine does not turn a Linux signal into a console control event");
    std::string path = MakeTempDir() + "/steps.jsonl";
    auto env = Device().env();
    env["STEPTOOLS_RECORD"] = path;

    ProgramRun reading("opquery_multi", {"!q", "!m", "DEV", "SILENT?", "COM7,115200", "60"}, env);
    ASSERT_TRUE(Device().waitLog("SILENT?"));
    reading.sendSignal(SIGTERM);
    EXPECT_EQ(reading.finish().signal, SIGTERM);

    ProgramRun asking("opquery_multi", {"Lamp lit?", "!m", "", "!", "COM7,115200", "0.1", "0"}, env, true);
    ASSERT_TRUE(asking.waitTerminal("Answer y"));
    asking.sendSignal(SIGINT);
    EXPECT_EQ(asking.finish().signal, SIGINT);

    // A Telnet connect that is never answered: the listener's queue is full.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener, 0);
    socklen_t length = sizeof addr;
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length);
    std::vector<int> queued;
    for (int i = 0; i < 4; ++i) {
        queued.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        connect(queued.back(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    usleep(100000);
    size_t ours = PendingConnects(ntohs(addr.sin_port));
    ProgramRun connecting("opquery_multi", {"!q", "!m", "DEV", "ID?", "127.0.0.1," + std::to_string(ntohs(addr.sin_port))},
                          env);
    for (int i = 0; i < 3000 && PendingConnects(ntohs(addr.sin_port)) <= ours; ++i) usleep(10000);
    ASSERT_GT(PendingConnects(ntohs(addr.sin_port)), ours) << "the program's connect never began";
    connecting.sendSignal(SIGHUP);
    EXPECT_EQ(connecting.finish().signal, SIGHUP);
    for (int s : queued) close(s);
    close(listener);

    std::vector<json> records = ReadRecords(path);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0]["killed"], "SIGTERM");
    EXPECT_EQ(records[0]["exit"], 128 + SIGTERM);
    EXPECT_EQ(records[0]["events"].back()["kind"], "send");  // the read was under way
    EXPECT_EQ(records[1]["killed"], "SIGINT");
    EXPECT_EQ(records[1]["events"].back()["kind"], "popup");
    EXPECT_EQ(records[1]["events"].back()["text"], "Lamp lit?");
    EXPECT_TRUE(records[1]["events"].back()["answer"].is_null());  // shown, never answered
    EXPECT_EQ(records[2]["killed"], "SIGHUP");
    EXPECT_EQ(records[2]["link"]["kind"], "telnet");
}

TEST(StepRecord, ProgramsKilledAtOnceNeverTearALine) {
    SKIP_UNDER_WINE("Wine does not turn a Linux signal into a console control event");
    std::string path = MakeTempDir() + "/steps.jsonl";
    auto env = Device().env();
    env["STEPTOOLS_RECORD"] = path;
    std::string message = "!" + std::string(20000, 'm');  // larger than a pipe's atomic write
    std::vector<std::unique_ptr<ProgramRun>> runs;
    for (int i = 0; i < 8; ++i)
        runs.push_back(std::make_unique<ProgramRun>(
            "opquery_multi", std::vector<std::string>{"!q" + std::to_string(i), message, "DEV", "SILENT?", Device().telnetSpec(), "60"},
            env));
    for (int i = 0; i < 3000 && Count(Device().log(), "telnet command SILENT?") < 8; ++i) usleep(10000);
    ASSERT_EQ(Count(Device().log(), "telnet command SILENT?"), 8u) << "not all of them reading";
    for (auto& run : runs) run->sendSignal(SIGTERM);
    for (auto& run : runs) EXPECT_EQ(run->finish().signal, SIGTERM);
    std::vector<json> records = ReadRecords(path);  // every line parses
    EXPECT_EQ(records.size(), 8u);
    for (const json& rec : records) EXPECT_EQ(rec["killed"], "SIGTERM");
}

TEST(StepRecord, RecordThatCannotBeWrittenChangesNothingButAWarning) {
    for (const std::string& path : std::vector<std::string>{"/nonexistent-dir/steps.jsonl", "/dev/full", MakeTempDir()}) {
        auto env = Device().env();
        env["STEPTOOLS_RECORD"] = path;
        RunResult r = RunProgram("opquery_multi", {"!q", "!m", "DEV", "ID?", "COM7,115200"}, env);
        EXPECT_EQ(r.out, "1\n") << path;
        EXPECT_EQ(r.status, 1);
        std::string reason = path == "/dev/full" ? "No space left on device"
                             : path[1] == 'n'      ? "No such file or directory"
                                                   : "Is a directory";
        std::string warning = "steptools: cannot write the step record to " + path + ": ";
        if (UnderWine()) {
            EXPECT_EQ(r.err.substr(0, warning.size()), warning) << r.err;  // Windows words the reason
        } else {
            EXPECT_EQ(r.err, warning + reason + "\n");
        }
    }
}

}  // namespace
