#include <gtest/gtest.h>

#include "telnet/telnet_codec.h"

namespace {

using namespace telnet;

// The client's options: the server's ECHO, and SUPPRESS-GO-AHEAD both ways.
Codec Client() {
    return Codec({{kEcho, false, true}, {kSuppressGoAhead, true, true}});
}

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

TEST(TelnetCodec, ReceiveTable) {
    struct Case {
        std::string name, received, data, reply;
    };
    for (const Case& c : {
             Case{"PlainData", "OK\r\n", "OK\r\n", ""},
             Case{"EscapedFF", Bytes({'A', kIac, kIac, 0, 'B'}), Bytes({'A', kIac, 0, 'B'}), ""},
             Case{"OtherCommandsDropped", Bytes({'A', kIac, 241, kIac, 249, 'B'}), "AB", ""},
             Case{"SubnegotiationDropped", Bytes({'A', kIac, kSb, kTerminalType, 1, kIac, kIac, 'x', kIac, kSe, 'B'}), "AB", ""},
             Case{"AcceptsServerEcho", Bytes({kIac, kWill, kEcho}), "", Bytes({kIac, kDo, kEcho})},
             Case{"RefusesToEcho", Bytes({kIac, kDo, kEcho}), "", Bytes({kIac, kWont, kEcho})},
             Case{"SuppressGoAheadBothWays", Bytes({kIac, kWill, kSuppressGoAhead, kIac, kDo, kSuppressGoAhead}), "",
                  Bytes({kIac, kDo, kSuppressGoAhead, kIac, kWill, kSuppressGoAhead})},
             Case{"RefusesOthers", Bytes({kIac, kDo, kTerminalType, kIac, kWill, 31}), "",
                  Bytes({kIac, kWont, kTerminalType, kIac, kDont, 31})},
             Case{"AskedTwiceAnswersOnce", Bytes({kIac, kWill, kEcho, kIac, kWill, kEcho}), "", Bytes({kIac, kDo, kEcho})},
             Case{"TurnedOffIsAcknowledged", Bytes({kIac, kWill, kEcho, kIac, kWont, kEcho, kIac, kWont, kEcho}), "",
                  Bytes({kIac, kDo, kEcho, kIac, kDont, kEcho})},
             Case{"OffWhenOffIsIgnored", Bytes({kIac, kDont, kEcho, kIac, kWont, 40}), "", ""},
         }) {
        Codec codec = Client();
        std::string data, reply;
        codec.receive(c.received, data, reply);
        EXPECT_EQ(data, c.data) << c.name;
        EXPECT_EQ(reply, c.reply) << c.name;
        // The same bytes one at a time: a command split across reads decodes alike.
        Codec split = Client();
        std::string data1, reply1;
        for (char ch : c.received) split.receive(std::string_view(&ch, 1), data1, reply1);
        EXPECT_EQ(data1, c.data) << c.name << " split";
        EXPECT_EQ(reply1, c.reply) << c.name << " split";
    }
}

TEST(TelnetCodec, OwnRequestsAreSettledByTheAnswerWithoutAReply) {
    Codec server({{kEcho, true, false}, {kSuppressGoAhead, true, true}});
    EXPECT_EQ(server.request(kWill, kEcho), Bytes({kIac, kWill, kEcho}));
    EXPECT_EQ(server.request(kWill, kEcho), "");  // pending: not asked twice
    EXPECT_EQ(server.request(kDo, kSuppressGoAhead), Bytes({kIac, kDo, kSuppressGoAhead}));
    std::string data, reply;
    server.receive(Bytes({kIac, kDo, kEcho, kIac, kWont, kSuppressGoAhead}), data, reply);
    EXPECT_EQ(reply, "");
    EXPECT_TRUE(server.enabled(kEcho, true));
    EXPECT_FALSE(server.enabled(kSuppressGoAhead, false));
}

TEST(TelnetCodec, EscapeDoublesFF) {
    EXPECT_EQ(Codec::escape(Bytes({kIac, 1, kIac})), Bytes({kIac, kIac, 1, kIac, kIac}));
    EXPECT_EQ(Codec::escape("ID?\r"), "ID?\r");
}

}  // namespace
