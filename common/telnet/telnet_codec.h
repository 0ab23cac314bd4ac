// The Telnet protocol layer, on both ends of a connection: it takes Telnet commands out of
// the received bytes, answers option negotiation from a fixed list of accepted options
// (tracking each option's state, so that negotiation never loops), and escapes 0xFF in the
// data that goes out. The client library and the device simulator share it.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace telnet {

constexpr unsigned char kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr unsigned char kEcho = 1, kSuppressGoAhead = 3, kTerminalType = 24;

// An option this end agrees to: `local` lets this end enable it when the peer asks (DO is
// answered WILL), `remote` lets the peer enable it (WILL is answered DO). Every option not
// listed is refused.
struct AcceptedOption {
    unsigned char option;
    bool local;
    bool remote;
};

class Codec {
public:
    explicit Codec(std::vector<AcceptedOption> accepted);

    // Decodes received bytes: the data goes to `data`, the answers to the peer's negotiation
    // to `reply` (to be sent as they are). `onNegotiation`, when set, sees each WILL, WONT, DO
    // or DONT received.
    void receive(std::string_view bytes, std::string& data, std::string& reply,
                 const std::function<void(unsigned char verb, unsigned char option)>& onNegotiation = {});

    // Asks the peer: kWill or kDo (offers), kWont or kDont. Returns the bytes to send, or
    // nothing when the option is already in that state or the request is pending.
    std::string request(unsigned char verb, unsigned char option);

    // Whether the option is enabled on this end (local) or on the peer's (remote).
    bool enabled(unsigned char option, bool local) const;

    // `data` with every 0xFF doubled, as it goes on the wire.
    static std::string escape(std::string_view data);

private:
    // RFC 1143 states of one side of one option, without the queue bit: a request that
    // crosses the peer's answer is settled by the answer.
    enum class State : unsigned char { No, Yes, WantNo, WantYes };
    enum class Parse : unsigned char { Data, Command, Option, Sub, SubCommand };

    void negotiate(unsigned char verb, unsigned char option, std::string& reply);
    bool accepts(unsigned char option, bool local) const;

    std::vector<AcceptedOption> accepted_;
    std::array<State, 256> local_{};
    std::array<State, 256> remote_{};
    Parse parse_ = Parse::Data;
    unsigned char verb_ = 0;
};

}  // namespace telnet
