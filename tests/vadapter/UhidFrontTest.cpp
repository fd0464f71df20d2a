// The twin's uhid front, with the test in the kernel's place on the other end
// of a socket pair: what the device announces, and the report framing both
// ways as hidraw hands it over (report id 0 in byte 0 of 9 bytes).
#include "platform/AdapterNodes.h"
#include "vadapter/VirtualAdapterDevice.h"
#include "vadapter/twin/UhidFront.h"

#include <gtest/gtest.h>

#include <linux/uhid.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace parvane {
namespace {

class UhidFrontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
        Scenario scenario;
        std::string error;
        ASSERT_TRUE(LoadScenario("cn", scenario, error)) << error;
        scenario.productId = 0x2111;
        adapter.Reset(scenario);
    }
    void TearDown() override
    {
        close(fds[0]);
        close(fds[1]);
    }

    uhid_event Next()
    {
        uhid_event event{};
        EXPECT_GT(read(fds[1], &event, sizeof event), 0);
        return event;
    }

    // One request through the front, its answer back.
    uhid_event Exchange(UhidFront& front, const uhid_event& request)
    {
        EXPECT_EQ(write(fds[1], &request, sizeof request), static_cast<ssize_t>(sizeof request));
        std::string error;
        EXPECT_TRUE(front.Serve(1000, error)) << error;
        return Next();
    }

    uhid_event SetReport(uint32_t id, std::initializer_list<uint8_t> bytes)
    {
        uhid_event event{};
        event.type = UHID_SET_REPORT;
        event.u.set_report.id = id;
        event.u.set_report.rtype = UHID_FEATURE_REPORT;
        event.u.set_report.size = static_cast<uint16_t>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), event.u.set_report.data);
        return event;
    }

    uhid_event GetReport(uint32_t id)
    {
        uhid_event event{};
        event.type = UHID_GET_REPORT;
        event.u.get_report.id = id;
        event.u.get_report.rtype = UHID_FEATURE_REPORT;
        return event;
    }

    int fds[2] = {-1, -1};
    VirtualAdapterDevice adapter{Scenario()};
};

TEST_F(UhidFrontTest, AnnouncesTheAdapterAndAnswersReadsAsUsbhidFramesThem)
{
    UhidFront front(fds[0], adapter, {0x1234, 0x2111, "Tarnbox", "00:11:22:33:44:55", true});
    std::string error;
    ASSERT_TRUE(front.Create(error)) << error;
    const uhid_event created = Next();
    ASSERT_EQ(created.type, UHID_CREATE2);
    EXPECT_EQ(created.u.create2.bus, 0x03);
    EXPECT_EQ(created.u.create2.vendor, 0x1234u);
    EXPECT_EQ(created.u.create2.product, 0x2111u);
    EXPECT_STREQ(reinterpret_cast<const char*>(created.u.create2.name), "Tarnbox");
    // A vendor-page feature report of 8 bytes, without report ids.
    const uint8_t* descriptor = created.u.create2.rd_data;
    const auto* end = descriptor + created.u.create2.rd_size;
    EXPECT_EQ(std::vector<uint8_t>(descriptor, descriptor + 3), (std::vector<uint8_t>{0x06, 0x00, 0xFF}));
    EXPECT_TRUE(DescriptorHasFeatureReport(std::vector<uint8_t>(descriptor, end), 8));
    EXPECT_EQ(std::find(descriptor, end, 0x85), end) << "no report id item";

    // The serial read: the request as hidraw sends it, then the reply with
    // report id 0 in front of the eight bytes, nine in all.
    uhid_event answer = Exchange(front, SetReport(7, {0, 243, 0, 237, 30, 0, 0, 0, 0}));
    EXPECT_EQ(answer.type, UHID_SET_REPORT_REPLY);
    EXPECT_EQ(answer.u.set_report_reply.id, 7u);
    EXPECT_EQ(answer.u.set_report_reply.err, 0);
    answer = Exchange(front, GetReport(8));
    EXPECT_EQ(answer.type, UHID_GET_REPORT_REPLY);
    EXPECT_EQ(answer.u.get_report_reply.id, 8u);
    EXPECT_EQ(answer.u.get_report_reply.err, 0);
    ASSERT_EQ(answer.u.get_report_reply.size, 9);
    const uint8_t* reply = answer.u.get_report_reply.data;
    EXPECT_EQ(std::vector<uint8_t>(reply, reply + 7), (std::vector<uint8_t>{0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));

    // A report the controller cannot take (short, or framed wrong) fails
    // the request instead of being guessed at.
    EXPECT_NE(Exchange(front, SetReport(9, {0, 243, 0, 237, 30, 0, 0, 0})).u.set_report_reply.err, 0);
    EXPECT_NE(Exchange(front, SetReport(10, {0, 1, 0, 237, 30, 0, 0, 0, 0})).u.set_report_reply.err, 0);
    EXPECT_EQ(front.ReportsServed(), 4);

    front.Destroy();
    EXPECT_EQ(Next().type, UHID_DESTROY);
}

TEST_F(UhidFrontTest, RepliesShortOrLongWhenAskedAndLeavesOtherInterfacesOffTheRegisters)
{
    UhidFront shortFront(fds[0], adapter, {0x1234, 0x2111, "Tarnbox", "", true}, 8);
    Exchange(shortFront, SetReport(1, {0, 243, 0, 237, 10, 0, 0, 0, 0}));
    const uhid_event shortReply = Exchange(shortFront, GetReport(2));
    EXPECT_EQ(shortReply.u.get_report_reply.err, 0);
    EXPECT_EQ(shortReply.u.get_report_reply.size, 8);

    UhidFront longFront(fds[0], adapter, {0x1234, 0x2111, "Tarnbox", "", true}, 10);
    const uhid_event longReply = Exchange(longFront, GetReport(3));
    EXPECT_EQ(longReply.u.get_report_reply.size, 10);
    EXPECT_EQ(longReply.u.get_report_reply.data[9], 0);

    adapter.ClearLogs();
    UhidFront other(fds[0], adapter, {0x1234, 0x2111, "Tarnbox", "", false});
    EXPECT_NE(Exchange(other, SetReport(4, {0, 243, 0, 237, 10, 0, 0, 0, 0})).u.set_report_reply.err, 0);
    EXPECT_NE(Exchange(other, GetReport(5)).u.get_report_reply.err, 0);
    EXPECT_TRUE(adapter.Reports().empty());
}

} // namespace
} // namespace parvane
