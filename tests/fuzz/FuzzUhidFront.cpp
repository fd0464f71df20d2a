// Any events the kernel's uhid could hand the twin, over a socket pair in
// its place: whole events or cut off, any type, report kind, id and size
// (sizes past the data the event holds too). Every report request is
// answered once, with its own id, an error or the adapter's report.
#include "vadapter/VirtualAdapterDevice.h"
#include "vadapter/twin/UhidFront.h"

#include <linux/uhid.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

struct Pair {
    Pair()
    {
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, fds) != 0)
            __builtin_trap();
    }
    ~Pair()
    {
        close(fds[0]);
        close(fds[1]);
    }
    int fds[2];
};

uhid_event Drain(int fd, int& count)
{
    uhid_event last{};
    count = 0;
    uhid_event event{};
    while (read(fd, &event, sizeof event) > 0) {
        last = event;
        ++count;
    }
    return last;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    parvane::Scenario scenario;
    scenario.ringDelayMs = 0;
    parvane::VirtualAdapterDevice adapter(scenario);
    adapter.UseManualClock();
    Pair pair;
    // Replies of the adapter's 9 bytes, or cut off or padded to 0 to 15.
    const size_t replyLength = size > 0 ? data[0] % 16 : 9;
    parvane::UhidFront front(pair.fds[0], adapter, {scenario.vendorId, scenario.productId, "twin", "1", true},
                             replyLength);
    std::string error;
    if (!front.Create(error))
        __builtin_trap();
    int count = 0;
    Drain(pair.fds[1], count);

    size_t at = 1;
    while (at + 4 <= size) {
        // Each event: a type, a report kind, a 16-bit size and up to 12
        // payload bytes, the rest of the event zero; sometimes cut off.
        uhid_event event{};
        event.type = data[at] % 12;
        const uint8_t shape = data[at + 1];
        const uint16_t length = static_cast<uint16_t>(data[at + 2] | data[at + 3] << 8);
        at += 4;
        uint8_t payload[12] = {};
        for (size_t i = 0; i < sizeof payload && at < size; ++i)
            payload[i] = data[at++];
        const uint32_t id = shape;
        if (event.type == UHID_SET_REPORT) {
            event.u.set_report.id = id;
            event.u.set_report.rtype = (shape & 1) ? UHID_FEATURE_REPORT : UHID_OUTPUT_REPORT;
            event.u.set_report.size = length;
            std::memcpy(event.u.set_report.data, payload, sizeof payload);
        } else if (event.type == UHID_GET_REPORT) {
            event.u.get_report.id = id;
            event.u.get_report.rtype = (shape & 1) ? UHID_FEATURE_REPORT : UHID_INPUT_REPORT;
            event.u.get_report.rnum = payload[0];
        }
        const size_t bytes = (shape & 0x80) ? 4 + shape % 64 : sizeof event;
        if (write(pair.fds[1], &event, bytes) != static_cast<ssize_t>(bytes))
            __builtin_trap();
        if (!front.Serve(0, error))
            __builtin_trap();
        const uhid_event answer = Drain(pair.fds[1], count);
        // What arrived of a cut-off event is all the front can go by.
        uhid_event arrived{};
        std::memcpy(&arrived, &event, bytes);
        const uint32_t sentId =
            event.type == UHID_SET_REPORT ? arrived.u.set_report.id : arrived.u.get_report.id;
        const bool request = event.type == UHID_SET_REPORT || event.type == UHID_GET_REPORT;
        if (count != (request ? 1 : 0))
            __builtin_trap();
        if (event.type == UHID_SET_REPORT &&
            (answer.type != UHID_SET_REPORT_REPLY || answer.u.set_report_reply.id != sentId))
            __builtin_trap();
        if (event.type == UHID_GET_REPORT &&
            (answer.type != UHID_GET_REPORT_REPLY || answer.u.get_report_reply.id != sentId ||
             answer.u.get_report_reply.size != (answer.u.get_report_reply.err == 0 ? replyLength : 0)))
            __builtin_trap();
    }
    front.Destroy();
    return 0;
}
