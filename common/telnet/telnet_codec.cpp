#include "telnet/telnet_codec.h"

#include <utility>

namespace telnet {

Codec::Codec(std::vector<AcceptedOption> accepted) : accepted_(std::move(accepted)) {}

bool Codec::accepts(unsigned char option, bool local) const {
    for (const AcceptedOption& a : accepted_)
        if (a.option == option) return local ? a.local : a.remote;
    return false;
}

bool Codec::enabled(unsigned char option, bool local) const {
    return (local ? local_ : remote_)[option] == State::Yes;
}

std::string Codec::escape(std::string_view data) {
    std::string out;
    out.reserve(data.size());
    for (char ch : data) {
        out += ch;
        if (static_cast<unsigned char>(ch) == kIac) out += ch;
    }
    return out;
}

// The peer's WILL or WONT decides its side of the option, DO or DONT ours. A request of our
// own that is pending is answered by it without a further reply.
void Codec::negotiate(unsigned char verb, unsigned char option, std::string& reply) {
    bool local = verb == kDo || verb == kDont;
    bool wantsOn = verb == kWill || verb == kDo;
    State& state = (local ? local_ : remote_)[option];
    auto answer = [&](unsigned char v) {
        reply += static_cast<char>(kIac);
        reply += static_cast<char>(v);
        reply += static_cast<char>(option);
    };
    if (wantsOn) {
        switch (state) {
            case State::No:
                if (accepts(option, local)) {
                    state = State::Yes;
                    answer(local ? kWill : kDo);
                } else {
                    answer(local ? kWont : kDont);
                }
                break;
            case State::WantYes: state = State::Yes; break;
            case State::WantNo: state = State::No; break;  // our refusal stands
            case State::Yes: break;                         // already on: no answer, no loop
        }
    } else {
        if (state == State::Yes) answer(local ? kWont : kDont);
        state = State::No;
    }
}

void Codec::receive(std::string_view bytes, std::string& data, std::string& reply,
                    const std::function<void(unsigned char, unsigned char)>& onNegotiation) {
    for (char ch : bytes) {
        unsigned char b = static_cast<unsigned char>(ch);
        switch (parse_) {
            case Parse::Data:
                if (b == kIac) parse_ = Parse::Command;
                else data += ch;
                break;
            case Parse::Command:
                if (b == kIac) {
                    data += ch;  // an escaped 0xFF
                    parse_ = Parse::Data;
                } else if (b >= kWill && b <= kDont) {
                    verb_ = b;
                    parse_ = Parse::Option;
                } else {
                    parse_ = b == kSb ? Parse::Sub : Parse::Data;  // other commands carry no data
                }
                break;
            case Parse::Option:
                if (onNegotiation) onNegotiation(verb_, b);
                negotiate(verb_, b, reply);
                parse_ = Parse::Data;
                break;
            case Parse::Sub:  // subnegotiations are dropped: no accepted option has one
                if (b == kIac) parse_ = Parse::SubCommand;
                break;
            case Parse::SubCommand:
                parse_ = b == kSe ? Parse::Data : Parse::Sub;
                break;
        }
    }
}

std::string Codec::request(unsigned char verb, unsigned char option) {
    bool local = verb == kWill || verb == kWont;
    bool wantsOn = verb == kWill || verb == kDo;
    State& state = (local ? local_ : remote_)[option];
    if (wantsOn ? state != State::No : state != State::Yes) return "";
    state = wantsOn ? State::WantYes : State::WantNo;
    return {static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)};
}

}  // namespace telnet
