// The twin's usbredir front with the test as the other end (the side QEMU's
// usb-redir takes), over a socket pair and through the protocol's own parser:
// the handshake and its capabilities, the device as it connects, requests on
// endpoint 0 reaching the register model, and the line audio's iso stream.
#include "tests/support/CapturedStderr.h"
#include "vadapter/VirtualAdapterDevice.h"
#include "vadapter/twin/UsbRedirFront.h"

#include <gtest/gtest.h>

#include <usbredirparser.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>

namespace parvane {
namespace {

struct Guest {
    int fd = -1;
    usbredirparser* parser = nullptr;
    bool connected = false;
    bool disconnected = false;
    uint16_t vendorId = 0, productId = 0;
    uint32_t interfaces = 0;
    std::map<uint64_t, std::pair<int, std::vector<uint8_t>>> controls; // id -> status, data
    std::vector<int> isoLengths;
    int configurationStatus = -1;

    static Guest& Of(void* priv) { return *static_cast<Guest*>(priv); }
};

class UsbRedirFrontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Scenario scenario;
        std::string error;
        ASSERT_TRUE(LoadScenario("cn", scenario, error)) << error;
        scenario.productId = 0x2111;
        adapter.Reset(scenario);
        int fds[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        frontFd = fds[0];
        guest.fd = fds[1];
        usbredirparser* p = guest.parser = usbredirparser_create();
        p->priv = &guest;
        p->read_func = [](void* priv, uint8_t* data, int count) {
            const ssize_t got = recv(Guest::Of(priv).fd, data, static_cast<size_t>(count), MSG_DONTWAIT);
            return got > 0 ? static_cast<int>(got) : 0;
        };
        p->write_func = [](void* priv, uint8_t* data, int count) {
            return static_cast<int>(send(Guest::Of(priv).fd, data, static_cast<size_t>(count), MSG_NOSIGNAL));
        };
        p->device_connect_func = [](void* priv, usb_redir_device_connect_header* connect) {
            Guest::Of(priv).connected = true;
            Guest::Of(priv).vendorId = connect->vendor_id;
            Guest::Of(priv).productId = connect->product_id;
        };
        p->device_disconnect_func = [](void* priv) { Guest::Of(priv).disconnected = true; };
        p->interface_info_func = [](void* priv, usb_redir_interface_info_header* info) {
            Guest::Of(priv).interfaces = info->interface_count;
        };
        p->configuration_status_func = [](void* priv, uint64_t, usb_redir_configuration_status_header* status) {
            Guest::Of(priv).configurationStatus = status->status;
        };
        p->control_packet_func = [](void* priv, uint64_t id, usb_redir_control_packet_header* header, uint8_t* data,
                                    int length) {
            Guest& g = Guest::Of(priv);
            g.controls[id] = {header->status, std::vector<uint8_t>(data, data + length)};
            if (data != nullptr)
                usbredirparser_free_packet_data(g.parser, data);
        };
        p->iso_packet_func = [](void* priv, uint64_t, usb_redir_iso_packet_header* header, uint8_t* data,
                                int length) {
            Guest& g = Guest::Of(priv);
            if (header->endpoint == UsbAdapterDevice::kLineInEndpoint)
                g.isoLengths.push_back(length);
            if (data != nullptr)
                usbredirparser_free_packet_data(g.parser, data);
        };
        p->log_func = [](void*, int, const char*) {};
        p->hello_func = [](void*, usb_redir_hello_header*) {};
        p->ep_info_func = [](void*, usb_redir_ep_info_header*) {};
        p->alt_setting_status_func = [](void*, uint64_t, usb_redir_alt_setting_status_header*) {};
        p->iso_stream_status_func = [](void*, uint64_t, usb_redir_iso_stream_status_header*) {};
        uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
        usbredirparser_caps_set_cap(caps, usb_redir_cap_64bits_ids);
        usbredirparser_caps_set_cap(caps, usb_redir_cap_32bits_bulk_length);
        usbredirparser_caps_set_cap(caps, usb_redir_cap_connect_device_version);
        usbredirparser_caps_set_cap(caps, usb_redir_cap_ep_info_max_packet_size);
        usbredirparser_init(p, "test guest", caps, USB_REDIR_CAPS_SIZE, 0);
    }
    void TearDown() override
    {
        usbredirparser_destroy(guest.parser);
        close(guest.fd);
    }

    // Both ends take turns until the condition holds (at most 5 s).
    void RunUntil(UsbRedirFront& front, const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline && !done()) {
            while (usbredirparser_has_data_to_write(guest.parser))
                usbredirparser_do_write(guest.parser);
            std::string error;
            ASSERT_TRUE(front.Serve(1, error)) << error;
            usbredirparser_do_read(guest.parser);
        }
        ASSERT_TRUE(done());
    }

    std::pair<int, std::vector<uint8_t>> Control(UsbRedirFront& front, uint8_t type, uint8_t request,
                                                 uint16_t value, uint16_t index, std::vector<uint8_t> data,
                                                 uint16_t inLength = 0)
    {
        const uint64_t id = ++nextId;
        usb_redir_control_packet_header header{static_cast<uint8_t>(type & 0x80), request, type, 0, value, index,
                                               static_cast<uint16_t>(data.empty() ? inLength : data.size())};
        usbredirparser_send_control_packet(guest.parser, id, &header, data.empty() ? nullptr : data.data(),
                                           static_cast<int>(data.size()));
        RunUntil(front, [&] { return guest.controls.count(id) > 0; });
        return guest.controls[id];
    }

    VirtualAdapterDevice adapter{Scenario()};
    Guest guest;
    int frontFd = -1;
    uint64_t nextId = 0;
};

TEST_F(UsbRedirFrontTest, ConnectsAnswersEndpointZeroFromTheModelAndStreamsTheLine)
{
    UsbAdapterDevice device(adapter, {0x1234, 0x2111, "Tarnbox", "00:11:22:33:44:55"});
    UsbRedirFront front(frontFd, device, 0x1234, 0x2111);
    RunUntil(front, [&] { return guest.connected; });
    EXPECT_TRUE(usbredirparser_peer_has_cap(guest.parser, usb_redir_cap_64bits_ids));
    EXPECT_TRUE(usbredirparser_peer_has_cap(guest.parser, usb_redir_cap_32bits_bulk_length));
    EXPECT_EQ(guest.vendorId, 0x1234);
    EXPECT_EQ(guest.productId, 0x2111);
    EXPECT_EQ(guest.interfaces, 4u);

    const auto descriptor = Control(front, 0x80, 0x06, 0x0100, 0, {}, 18);
    EXPECT_EQ(descriptor.first, usb_redir_success);
    ASSERT_EQ(descriptor.second.size(), 18u);
    EXPECT_EQ(descriptor.second[10] | descriptor.second[11] << 8, 0x2111);

    usb_redir_set_configuration_header configuration{1};
    usbredirparser_send_set_configuration(guest.parser, ++nextId, &configuration);
    RunUntil(front, [&] { return guest.configurationStatus >= 0; });
    EXPECT_EQ(guest.configurationStatus, usb_redir_success);

    // The serial number's read: SET_REPORT, then GET_REPORT, 8 bytes each.
    EXPECT_EQ(Control(front, 0x21, 0x09, 0x0300, 0, {243, 0, 237, 30, 0, 0, 0, 0}).first, usb_redir_success);
    const auto serial = Control(front, 0xA1, 0x01, 0x0300, 0, {}, 8);
    EXPECT_EQ(serial.first, usb_redir_success);
    EXPECT_EQ(serial.second, (std::vector<uint8_t>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0, 0}));
    EXPECT_EQ(Control(front, 0xA1, 0x01, 0x0300, 7, {}, 8).first, usb_redir_stall) << "no such interface";

    usb_redir_set_alt_setting_header alt{3, 1};
    usbredirparser_send_set_alt_setting(guest.parser, ++nextId, &alt);
    EXPECT_EQ(Control(front, 0x22, 0x01, 0x0100, UsbAdapterDevice::kLineInEndpoint, {0x80, 0xBB, 0x00}).first,
              usb_redir_success);
    EXPECT_EQ(device.SamplingFrequency(UsbAdapterDevice::kLineInEndpoint), 48000u);

    test::CapturedStderr captured;
    usb_redir_start_iso_stream_header start{UsbAdapterDevice::kLineInEndpoint, 8, 2};
    usbredirparser_send_start_iso_stream(guest.parser, ++nextId, &start);
    RunUntil(front, [&] { return guest.isoLengths.size() >= 20; });
    EXPECT_EQ(std::count(guest.isoLengths.begin(), guest.isoLengths.end(), 288),
              static_cast<long>(guest.isoLengths.size()));

    front.Unplug();
    RunUntil(front, [&] { return guest.disconnected; });
    // The stream's end is logged with what it sent, the figure a capture
    // is measured against.
    const long packets = front.LinePacketsSent();
    EXPECT_TRUE(captured.Contains("ms (the twin was unplugged): " + std::to_string(packets) + " packets, " +
                                  std::to_string(packets * 72) + " frames in"));
}

} // namespace
} // namespace parvane
