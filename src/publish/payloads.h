#pragma once

#include "protocol/packet.h"
#include "serial/link_health.h"
#include "weighing/result_check.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace pondara {

// The payloads the publisher sends, as plain JSON with the fields in a fixed
// order, so that a subscriber reading them by eye finds them where it
// expects them.

// The link in one word: "ok" while replies come, "bad" while bytes come but
// no valid reply, "silent" otherwise (no reply, port closed, not judged yet).
const char* link_word(LinkHealth::State state);

// One value of the AD or weight readout.
struct Reading {
    std::uint32_t value = 0;
    std::int64_t wall_ms = 0;  // when the reply came
    std::optional<bool> stable;  // no verdict: the field is left out
    bool stale = false;  // the link no longer confirms the value
    LinkHealth::State link = LinkHealth::State::closed;
};
// {"value":1500,"time":"…","stable":true,"stale":false,"link":"ok"}
QByteArray reading_payload(const Reading& reading);

// A command that changes the module (zero, calibration, parameter write)
// and what came of it.
struct Exchange {
    enum class Result : std::uint8_t { answered, no_reply, bad_reply, port_closed, not_sent };
    Packet request {};
    std::int64_t wall_ms = 0;  // when it was sent, or queued for a closed port
    bool remote = false;  // queued by a message on cmd/zero ("mqtt"), else "program"
    Result result = Result::no_reply;
    Packet answer {};  // when answered
    // For an answered zero or calibration: whether the weight then settled
    // on its target, and the value judged.
    std::optional<WeighingCheck::Result> check;
    std::optional<std::uint32_t> weight_after;
};
// {"command":"zero","source":"program","time":"…","request":"55 01 03 00 00 00 00 59",
//  "result":"answered","answer":"22 01 03 03 00 00 00 29","check":"confirmed","weight_after":0}
// calibrate and parameter writes also carry "argument", the value sent.
QByteArray event_payload(const Exchange& exchange);

// The command name of a request type byte ("zero", "write_kuandu"), empty
// for a type the module does not know.
QByteArray command_name(std::uint8_t leixing);

// The verdict as the payloads carry it: none while unknown.
std::optional<bool> is_stable(Motion motion);

// Whether a command sent with this type byte changes the module.
bool changes_module(std::uint8_t leixing);

}  // namespace pondara
