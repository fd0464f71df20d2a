#include "vadapter/twin/UsbRedirFront.h"

#include <usbredirparser.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace parvane {

namespace {

constexpr auto kPacketPeriod = std::chrono::microseconds(UsbAdapterDevice::kPacketPeriodUs);
// Behind by more than this (the machine stalled), the stream skips ahead
// rather than bursting: the host would drop a burst anyway.
constexpr auto kMostBehind = std::chrono::milliseconds(50);

UsbRedirFront* Front(void* priv)
{
    return static_cast<UsbRedirFront*>(priv);
}

} // namespace

struct UsbRedirCallbacks {
    static void Log(void*, int level, const char* message)
    {
        if (level <= usbredirparser_warning)
            std::fprintf(stderr, "parvane-twin: usbredir: %s\n", message);
    }
    static void Hello(void* priv, usb_redir_hello_header*) { Front(priv)->Announce(); }
    static void Reset(void* priv)
    {
        Front(priv)->EndLineStream("the host reset the device");
        Front(priv)->m_device.Reset();
    }
    static void SetConfiguration(void* priv, uint64_t id, usb_redir_set_configuration_header* request)
    {
        UsbRedirFront& f = *Front(priv);
        usb_redir_configuration_status_header status{};
        status.status = f.m_device.SetConfiguration(request->configuration) ? usb_redir_success : usb_redir_stall;
        status.configuration = f.m_device.Configuration();
        f.EndLineStream("the configuration changed");
        f.SendInterfacesAndEndpoints();
        usbredirparser_send_configuration_status(f.m_parser, id, &status);
    }
    static void GetConfiguration(void* priv, uint64_t id)
    {
        UsbRedirFront& f = *Front(priv);
        usb_redir_configuration_status_header status{usb_redir_success, f.m_device.Configuration()};
        usbredirparser_send_configuration_status(f.m_parser, id, &status);
    }
    static void SetAltSetting(void* priv, uint64_t id, usb_redir_set_alt_setting_header* request)
    {
        UsbRedirFront& f = *Front(priv);
        usb_redir_alt_setting_status_header status{};
        status.status = f.m_device.SetAltSetting(request->interface, request->alt) ? usb_redir_success
                                                                                     : usb_redir_stall;
        status.interface = request->interface;
        status.alt = f.m_device.AltSetting(request->interface);
        f.SendInterfacesAndEndpoints();
        usbredirparser_send_alt_setting_status(f.m_parser, id, &status);
    }
    static void GetAltSetting(void* priv, uint64_t id, usb_redir_get_alt_setting_header* request)
    {
        UsbRedirFront& f = *Front(priv);
        usb_redir_alt_setting_status_header status{usb_redir_success, request->interface,
                                                   f.m_device.AltSetting(request->interface)};
        usbredirparser_send_alt_setting_status(f.m_parser, id, &status);
    }
    static void StartIso(void* priv, uint64_t id, usb_redir_start_iso_stream_header* request)
    {
        UsbRedirFront& f = *Front(priv);
        usb_redir_iso_stream_status_header status{usb_redir_success, request->endpoint};
        if (request->endpoint == UsbAdapterDevice::kLineInEndpoint) {
            f.StartLineStream();
        } else if (request->endpoint == UsbAdapterDevice::kPlaybackEndpoint) {
            f.m_device.StartPlayback();
        } else {
            status.status = usb_redir_inval;
        }
        usbredirparser_send_iso_stream_status(f.m_parser, id, &status);
    }
    static void StopIso(void* priv, uint64_t id, usb_redir_stop_iso_stream_header* request)
    {
        UsbRedirFront& f = *Front(priv);
        if (request->endpoint == UsbAdapterDevice::kLineInEndpoint)
            f.EndLineStream("the host stopped it");
        else if (request->endpoint == UsbAdapterDevice::kPlaybackEndpoint)
            f.m_device.StopPlayback();
        usb_redir_iso_stream_status_header status{usb_redir_success, request->endpoint};
        usbredirparser_send_iso_stream_status(f.m_parser, id, &status);
    }
    static void StartInterrupt(void* priv, uint64_t id, usb_redir_start_interrupt_receiving_header* request)
    {
        UsbRedirFront& f = *Front(priv);
        f.m_device.InterruptReceiving(request->endpoint, true);
        usb_redir_interrupt_receiving_status_header status{usb_redir_success, request->endpoint};
        usbredirparser_send_interrupt_receiving_status(f.m_parser, id, &status);
    }
    static void StopInterrupt(void* priv, uint64_t id, usb_redir_stop_interrupt_receiving_header* request)
    {
        UsbRedirFront& f = *Front(priv);
        f.m_device.InterruptReceiving(request->endpoint, false);
        usb_redir_interrupt_receiving_status_header status{usb_redir_success, request->endpoint};
        usbredirparser_send_interrupt_receiving_status(f.m_parser, id, &status);
    }
    static void Control(void* priv, uint64_t id, usb_redir_control_packet_header* header, uint8_t* data, int length)
    {
        UsbRedirFront& f = *Front(priv);
        const bool toDevice = (header->requesttype & 0x80) == 0;
        std::vector<uint8_t> out;
        if (toDevice && data != nullptr && length > 0)
            out.assign(data, data + length);
        if (data != nullptr)
            usbredirparser_free_packet_data(f.m_parser, data);
        std::vector<uint8_t> in;
        const bool ok = f.m_device.Control(
            {header->requesttype, header->request, header->value, header->index, header->length}, out, in);
        usb_redir_control_packet_header reply = *header;
        reply.status = ok ? usb_redir_success : usb_redir_stall;
        reply.length = static_cast<uint16_t>(toDevice ? (ok ? out.size() : 0) : in.size());
        usbredirparser_send_control_packet(f.m_parser, id, &reply, toDevice || in.empty() ? nullptr : in.data(),
                                           toDevice ? 0 : static_cast<int>(in.size()));
    }
    static void Iso(void* priv, uint64_t, usb_redir_iso_packet_header* header, uint8_t* data, int length)
    {
        UsbRedirFront& f = *Front(priv);
        if (header->endpoint == UsbAdapterDevice::kPlaybackEndpoint && data != nullptr && length > 0)
            f.m_device.TakePlayback(data, static_cast<size_t>(length));
        if (data != nullptr)
            usbredirparser_free_packet_data(f.m_parser, data);
    }
    static void Data(void* priv, uint64_t, void*, uint8_t* data, int)
    {
        if (data != nullptr)
            usbredirparser_free_packet_data(Front(priv)->m_parser, data);
    }
};

UsbRedirFront::UsbRedirFront(int fd, UsbAdapterDevice& device, uint16_t vendorId, uint16_t productId)
    : m_fd(fd), m_device(device), m_vendorId(vendorId), m_productId(productId),
      m_createdAt(std::chrono::steady_clock::now())
{
    m_parser = usbredirparser_create();
    m_parser->priv = this;
    m_parser->log_func = UsbRedirCallbacks::Log;
    m_parser->read_func = Read;
    m_parser->write_func = Write;
    m_parser->hello_func = UsbRedirCallbacks::Hello;
    m_parser->reset_func = UsbRedirCallbacks::Reset;
    m_parser->set_configuration_func = UsbRedirCallbacks::SetConfiguration;
    m_parser->get_configuration_func = UsbRedirCallbacks::GetConfiguration;
    m_parser->set_alt_setting_func = UsbRedirCallbacks::SetAltSetting;
    m_parser->get_alt_setting_func = UsbRedirCallbacks::GetAltSetting;
    m_parser->start_iso_stream_func = UsbRedirCallbacks::StartIso;
    m_parser->stop_iso_stream_func = UsbRedirCallbacks::StopIso;
    m_parser->start_interrupt_receiving_func = UsbRedirCallbacks::StartInterrupt;
    m_parser->stop_interrupt_receiving_func = UsbRedirCallbacks::StopInterrupt;
    m_parser->control_packet_func = UsbRedirCallbacks::Control;
    m_parser->iso_packet_func = UsbRedirCallbacks::Iso;
    m_parser->bulk_packet_func = reinterpret_cast<usbredirparser_bulk_packet>(UsbRedirCallbacks::Data);
    m_parser->interrupt_packet_func = reinterpret_cast<usbredirparser_interrupt_packet>(UsbRedirCallbacks::Data);
    uint32_t caps[USB_REDIR_CAPS_SIZE] = {};
    // QEMU's xhci needs the 64-bit ids and the 32-bit bulk lengths.
    usbredirparser_caps_set_cap(caps, usb_redir_cap_connect_device_version);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_ep_info_max_packet_size);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_64bits_ids);
    usbredirparser_caps_set_cap(caps, usb_redir_cap_32bits_bulk_length);
    usbredirparser_init(m_parser, "parvane-twin", caps, USB_REDIR_CAPS_SIZE, usbredirparser_fl_usb_host);
}

UsbRedirFront::~UsbRedirFront()
{
    usbredirparser_destroy(m_parser);
    close(m_fd);
}

int UsbRedirFront::Read(void* self, uint8_t* data, int count)
{
    auto& f = *static_cast<UsbRedirFront*>(self);
    const ssize_t got = recv(f.m_fd, data, static_cast<size_t>(count), MSG_DONTWAIT);
    if (got > 0)
        return static_cast<int>(got);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    f.m_closed = true;
    return -1;
}

int UsbRedirFront::Write(void* self, uint8_t* data, int count)
{
    auto& f = *static_cast<UsbRedirFront*>(self);
    const ssize_t sent = send(f.m_fd, data, static_cast<size_t>(count), MSG_NOSIGNAL);
    if (sent >= 0)
        return static_cast<int>(sent);
    if (errno == EAGAIN || errno == EINTR)
        return 0;
    f.m_closed = true;
    return -1;
}

void UsbRedirFront::SendInterfacesAndEndpoints()
{
    usb_redir_interface_info_header interfaces{};
    const auto list = m_device.Interfaces();
    interfaces.interface_count = static_cast<uint32_t>(list.size());
    for (size_t i = 0; i < list.size() && i < 32; ++i) {
        interfaces.interface[i] = list[i].number;
        interfaces.interface_class[i] = list[i].interfaceClass;
        interfaces.interface_subclass[i] = list[i].subclass;
        interfaces.interface_protocol[i] = list[i].protocol;
    }
    usbredirparser_send_interface_info(m_parser, &interfaces);
    // Slots 0 to 15 are OUT endpoints, 16 to 31 IN; endpoint 0 both ways.
    usb_redir_ep_info_header endpoints{};
    std::fill(std::begin(endpoints.type), std::end(endpoints.type), uint8_t{usb_redir_type_invalid});
    endpoints.type[0] = endpoints.type[16] = usb_redir_type_control;
    endpoints.max_packet_size[0] = endpoints.max_packet_size[16] = 64;
    for (const UsbEndpoint& e : m_device.Endpoints()) {
        const int slot = ((e.address & 0x80) >> 3) | (e.address & 0x0F);
        endpoints.type[slot] = e.type;
        endpoints.interval[slot] = e.interval;
        endpoints.interface[slot] = e.interfaceNumber;
        endpoints.max_packet_size[slot] = e.maxPacketSize;
    }
    usbredirparser_send_ep_info(m_parser, &endpoints);
}

void UsbRedirFront::Announce()
{
    if (m_connected)
        return;
    SendInterfacesAndEndpoints();
    usb_redir_device_connect_header connect{};
    connect.speed = usb_redir_speed_full;
    connect.vendor_id = m_vendorId;
    connect.product_id = m_productId;
    connect.device_version_bcd = 0x0100;
    usbredirparser_send_device_connect(m_parser, &connect);
    m_connected = true;
}

void UsbRedirFront::StartLineStream()
{
    EndLineStream("it started again");
    m_device.StartLineStream();
    m_lineRunning = true;
    m_lineStartedAt = m_nextLinePacket = std::chrono::steady_clock::now();
    m_streamPackets = 0;
    m_streamSkippedMs = 0;
    std::fprintf(stderr, "parvane-twin: line audio stream started at %lld ms\n",
                 static_cast<long long>(
                     std::chrono::duration_cast<std::chrono::milliseconds>(m_lineStartedAt - m_createdAt).count()));
}

void UsbRedirFront::EndLineStream(const char* why)
{
    if (!m_lineRunning)
        return;
    m_lineRunning = false;
    using std::chrono::milliseconds;
    const auto now = std::chrono::steady_clock::now();
    const auto ms = std::chrono::duration_cast<milliseconds>(now - m_lineStartedAt);
    std::fprintf(stderr,
                 "parvane-twin: line audio stream ended at %lld ms (%s): %ld packets, %lld frames in %lld ms of the "
                 "twin's clock, %ld ms skipped\n",
                 static_cast<long long>(std::chrono::duration_cast<milliseconds>(now - m_createdAt).count()), why,
                 m_streamPackets,
                 static_cast<long long>(m_streamPackets) * static_cast<long long>(UsbAdapterDevice::kFramesPerPacket),
                 static_cast<long long>(ms.count()), m_streamSkippedMs);
}

void UsbRedirFront::SendDueLinePackets()
{
    if (!m_lineRunning)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_nextLinePacket > kMostBehind) {
        const long behind =
            static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now - m_nextLinePacket).count());
        std::fprintf(stderr, "parvane-twin: line audio %ld ms behind, skipping ahead\n", behind);
        m_streamSkippedMs += behind;
        m_lineSkippedMs += behind;
        m_nextLinePacket = now;
    }
    while (m_nextLinePacket <= now) {
        std::vector<uint8_t> packet = m_device.NextLinePacket();
        usb_redir_iso_packet_header header{UsbAdapterDevice::kLineInEndpoint, usb_redir_success,
                                           static_cast<uint16_t>(packet.size())};
        usbredirparser_send_iso_packet(m_parser, 0, &header, packet.data(), static_cast<int>(packet.size()));
        ++m_linePackets;
        ++m_streamPackets;
        m_nextLinePacket += kPacketPeriod;
    }
}

bool UsbRedirFront::Flush(std::string& error)
{
    while (usbredirparser_has_data_to_write(m_parser) && !m_closed) {
        if (usbredirparser_do_write(m_parser) < 0)
            break;
        if (usbredirparser_has_data_to_write(m_parser)) {
            pollfd writable{m_fd, POLLOUT, 0};
            poll(&writable, 1, 100);
        }
    }
    if (m_closed) {
        error = "the usbredir peer closed the connection";
        return false;
    }
    return true;
}

bool UsbRedirFront::Serve(int timeoutMs, std::string& error)
{
    int wait = timeoutMs;
    if (m_lineRunning) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_nextLinePacket -
                                                                                std::chrono::steady_clock::now());
        wait = std::clamp<int>(static_cast<int>(left.count()), 0, timeoutMs);
    }
    pollfd readable{m_fd, POLLIN, 0};
    const int ready = poll(&readable, 1, wait);
    if (ready < 0 && errno != EINTR) {
        error = std::string("usbredir poll failed: ") + std::strerror(errno);
        return false;
    }
    if (ready > 0) {
        const int result = usbredirparser_do_read(m_parser);
        if (m_closed || (readable.revents & (POLLHUP | POLLERR)) != 0) {
            error = "the usbredir peer closed the connection";
            return false;
        }
        if (result < 0 && result != -1) {
            error = "usbredir: the peer sent what the protocol does not allow (" + std::to_string(result) + ")";
            return false;
        }
    }
    SendDueLinePackets();
    return Flush(error);
}

void UsbRedirFront::Unplug()
{
    if (!m_connected)
        return;
    EndLineStream("the twin was unplugged");
    m_device.Reset();
    usbredirparser_send_device_disconnect(m_parser);
    std::string ignored;
    Flush(ignored);
    m_connected = false;
}

} // namespace parvane
