#include "vadapter/twin/UsbAdapterDevice.h"

#include "vadapter/twin/AdapterHidReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace parvane {

namespace {

constexpr uint8_t kAdapterHidEndpoint = 0x81;
constexpr uint8_t kOtherHidEndpoint = 0x84;
constexpr uint16_t kAudioPacketMax = UsbAdapterDevice::kBytesPerPacket; // also room for a playback millisecond
constexpr uint8_t kRequestTypeMask = 0x60;
constexpr uint8_t kStandard = 0x00;
constexpr uint8_t kClass = 0x20;
constexpr uint8_t kRecipientMask = 0x1F;
constexpr uint8_t kToInterface = 0x01;
constexpr uint8_t kToEndpoint = 0x02;
constexpr uint32_t kRate = VirtualAdapter::kLineAudioRate;

void Put16(std::vector<uint8_t>& to, unsigned value)
{
    to.push_back(static_cast<uint8_t>(value & 0xFF));
    to.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

void Append(std::vector<uint8_t>& to, std::initializer_list<unsigned> bytes)
{
    for (const unsigned byte : bytes)
        to.push_back(static_cast<uint8_t>(byte));
}

void HidInterface(std::vector<uint8_t>& to, uint8_t number, uint8_t endpoint, size_t reportDescriptorSize)
{
    Append(to, {9, 0x04, number, 0, 1, 0x03, 0, 0, 0});
    Append(to, {9, 0x21, 0x11, 0x01, 0, 1, 0x22});
    Put16(to, static_cast<unsigned>(reportDescriptorSize));
    Append(to, {7, 0x05, endpoint, 0x03, 8, 0, 10});
}

// One streaming interface: alternate setting 0 without bandwidth, 1 with the
// 48000 Hz, 16-bit stereo endpoint (attributes: iso and its synchronisation).
void StreamingInterface(std::vector<uint8_t>& to, uint8_t number, uint8_t terminal, uint8_t endpoint,
                        uint8_t attributes)
{
    Append(to, {9, 0x04, number, 0, 0, 0x01, 0x02, 0, 0});
    Append(to, {9, 0x04, number, 1, 1, 0x01, 0x02, 0, 0});
    Append(to, {7, 0x24, 0x01, terminal, 1, 0x01, 0x00});                       // AS general, PCM
    Append(to, {11, 0x24, 0x02, 0x01, 2, 2, 16, 1, kRate & 0xFF, (kRate >> 8) & 0xFF, (kRate >> 16) & 0xFF});
    Append(to, {9, 0x05, endpoint, attributes});
    Put16(to, kAudioPacketMax);
    Append(to, {1, 0, 0});
    Append(to, {7, 0x25, 0x01, 0x01, 0, 0, 0}); // sampling frequency control
}

std::vector<uint8_t> Utf16Descriptor(const std::string& text)
{
    std::vector<uint8_t> out{0, 0x03};
    // The names are ASCII in practice; other bytes pass as Latin-1, which a
    // descriptor can hold at most 126 of.
    for (size_t i = 0; i < text.size() && out.size() < 254; ++i)
        Put16(out, static_cast<uint8_t>(text[i]));
    out[0] = static_cast<uint8_t>(out.size());
    return out;
}

} // namespace

UsbAdapterDevice::UsbAdapterDevice(VirtualAdapter& adapter, UsbIdentity identity)
    : m_adapter(adapter), m_identity(std::move(identity))
{
    m_identity.replyLength = std::clamp<size_t>(m_identity.replyLength, 1, 64);
    m_createdMs = m_adapter.NowMs();
}

UsbAdapterDevice::~UsbAdapterDevice()
{
    Reset();
}

void UsbAdapterDevice::Reset()
{
    StopPlayback();
    LogExchanges("the device was reset");
    m_configuration = 0;
    m_playbackAlt = m_lineAlt = 0;
    m_playbackRate = m_lineRate = kRate;
    if (m_handle > 0)
        m_adapter.Close(m_handle);
    m_handle = 0;
}

int UsbAdapterDevice::ModelHandle()
{
    if (m_handle <= 0)
        m_handle = m_adapter.Open(m_identity.vendorId, m_identity.productId);
    return m_handle;
}

void UsbAdapterDevice::InterruptReceiving(uint8_t endpoint, bool running)
{
    if (endpoint != kAdapterHidEndpoint)
        return;
    if (running) {
        ModelHandle();
        m_exchanges = 0;
        m_busiestSecond = 0;
        m_lastSecond.clear();
    } else {
        LogExchanges("the HID interface closed");
        if (m_handle > 0)
            m_adapter.Close(m_handle);
        m_handle = 0;
    }
}

void UsbAdapterDevice::CountExchange()
{
    const uint64_t now = m_adapter.NowMs();
    if (m_exchanges++ == 0)
        m_firstExchangeMs = now;
    m_lastExchangeMs = now;
    while (!m_lastSecond.empty() && now - m_lastSecond.front() >= 1000)
        m_lastSecond.pop_front();
    m_lastSecond.push_back(now);
    m_busiestSecond = std::max(m_busiestSecond, static_cast<int>(m_lastSecond.size()));
}

void UsbAdapterDevice::LogExchanges(const char* why)
{
    if (m_exchanges == 0)
        return;
    std::fprintf(stderr,
                 "parvane-twin: %s after %d feature-report exchanges in %llu ms, at most %d in one second\n", why,
                 m_exchanges, static_cast<unsigned long long>(m_lastExchangeMs - m_firstExchangeMs),
                 m_busiestSecond);
    m_exchanges = 0;
    m_lastSecond.clear();
}

void UsbAdapterDevice::NoteHook()
{
    if (m_adapter.IsOffHook() == m_offHook)
        return;
    m_offHook = !m_offHook;
    if (!m_offHook) {
        std::fprintf(stderr, "parvane-twin: the line is on-hook\n");
        return;
    }
    // Times on the adapter's clock from the moment the device appeared.
    const uint64_t offHook = m_adapter.OffHookSinceMs();
    const uint64_t ringEnd = m_adapter.LastRingEndMs();
    if (ringEnd == 0 || ringEnd > offHook || ringEnd < m_createdMs) {
        // The start-up takes the line for a moment: no call is answered,
        // and the log does not say it is.
        std::fprintf(stderr, "parvane-twin: the line is seized at %llu ms with no call ringing\n",
                     static_cast<unsigned long long>(offHook - std::min(offHook, m_createdMs)));
        return;
    }
    std::fprintf(stderr,
                 "parvane-twin: the line is off-hook (answered) at %llu ms, %llu ms after the last ring burst "
                 "ended at %llu ms\n",
                 static_cast<unsigned long long>(offHook - m_createdMs),
                 static_cast<unsigned long long>(offHook - ringEnd),
                 static_cast<unsigned long long>(ringEnd - m_createdMs));
}

std::vector<uint8_t> UsbAdapterDevice::DeviceDescriptor() const
{
    std::vector<uint8_t> out;
    Append(out, {18, 0x01, 0x10, 0x01, 0, 0, 0, 64});
    Put16(out, m_identity.vendorId);
    Put16(out, m_identity.productId);
    Append(out, {0x00, 0x01, 1, 2, 3, 1});
    return out;
}

std::vector<uint8_t> UsbAdapterDevice::ConfigurationDescriptor() const
{
    const uint8_t interfaces = static_cast<uint8_t>(1 + (m_identity.otherInterface ? 1 : 0) +
                                                    (m_identity.audio ? 3 : 0));
    std::vector<uint8_t> out;
    Append(out, {9, 0x02, 0, 0, interfaces, 1, 0, 0x80, 50});
    if (m_identity.otherInterface)
        HidInterface(out, 0, kOtherHidEndpoint, sizeof kOtherInterfaceReportDescriptor);
    HidInterface(out, AdapterInterface(), kAdapterHidEndpoint, sizeof kAdapterReportDescriptor);
    if (m_identity.audio) {
        const uint8_t control = FirstAudioInterface();
        Append(out, {9, 0x04, control, 0, 0, 0x01, 0x01, 0, 0});
        // Header, then the playback path (USB streaming 1 -> speaker 2) and
        // the line path (input 3 -> USB streaming 4).
        Append(out, {10, 0x24, 0x01, 0x00, 0x01, 52, 0, 2, control + 1u, control + 2u});
        Append(out, {12, 0x24, 0x02, 1, 0x01, 0x01, 0, 2, 0x03, 0, 0, 0});
        Append(out, {9, 0x24, 0x03, 2, 0x01, 0x03, 0, 1, 0});
        Append(out, {12, 0x24, 0x02, 3, 0x03, 0x06, 0, 2, 0x03, 0, 0, 0});
        Append(out, {9, 0x24, 0x03, 4, 0x01, 0x01, 0, 3, 0});
        StreamingInterface(out, control + 1, 1, kPlaybackEndpoint, 0x09); // iso, adaptive
        StreamingInterface(out, control + 2, 4, kLineInEndpoint, 0x05);   // iso, asynchronous
    }
    out[2] = static_cast<uint8_t>(out.size() & 0xFF);
    out[3] = static_cast<uint8_t>(out.size() >> 8);
    return out;
}

std::vector<uint8_t> UsbAdapterDevice::StringDescriptor(uint8_t index) const
{
    switch (index) {
    case 0: return {4, 0x03, 0x09, 0x04};
    case 1: return Utf16Descriptor("Parvane twin");
    case 2: return Utf16Descriptor(m_identity.product);
    case 3: return Utf16Descriptor(m_identity.serial);
    default: return {};
    }
}

std::vector<UsbInterfaceClass> UsbAdapterDevice::Interfaces() const
{
    std::vector<UsbInterfaceClass> out;
    if (m_identity.otherInterface)
        out.push_back({0, 0x03, 0, 0});
    out.push_back({AdapterInterface(), 0x03, 0, 0});
    if (m_identity.audio) {
        const uint8_t control = FirstAudioInterface();
        out.push_back({control, 0x01, 0x01, 0});
        out.push_back({static_cast<uint8_t>(control + 1), 0x01, 0x02, 0});
        out.push_back({static_cast<uint8_t>(control + 2), 0x01, 0x02, 0});
    }
    return out;
}

std::vector<UsbEndpoint> UsbAdapterDevice::Endpoints() const
{
    std::vector<UsbEndpoint> out;
    if (m_configuration == 0)
        return out;
    if (m_identity.otherInterface)
        out.push_back({kOtherHidEndpoint, 3, 10, 0, 8});
    out.push_back({kAdapterHidEndpoint, 3, 10, AdapterInterface(), 8});
    if (m_identity.audio && m_playbackAlt == 1)
        out.push_back({kPlaybackEndpoint, 1, 1, static_cast<uint8_t>(FirstAudioInterface() + 1), kAudioPacketMax});
    if (m_identity.audio && m_lineAlt == 1)
        out.push_back({kLineInEndpoint, 1, 1, static_cast<uint8_t>(FirstAudioInterface() + 2), kAudioPacketMax});
    return out;
}

bool UsbAdapterDevice::SetConfiguration(uint8_t configuration)
{
    if (configuration > 1)
        return false;
    if (configuration != m_configuration)
        Reset();
    m_configuration = configuration;
    return true;
}

uint8_t UsbAdapterDevice::AltSetting(uint8_t interfaceNumber) const
{
    if (m_identity.audio && interfaceNumber == FirstAudioInterface() + 1)
        return m_playbackAlt;
    if (m_identity.audio && interfaceNumber == FirstAudioInterface() + 2)
        return m_lineAlt;
    return 0;
}

bool UsbAdapterDevice::SetAltSetting(uint8_t interfaceNumber, uint8_t alt)
{
    if (m_configuration == 0)
        return false;
    const bool streaming = m_identity.audio && (interfaceNumber == FirstAudioInterface() + 1 ||
                                                interfaceNumber == FirstAudioInterface() + 2);
    if (!streaming)
        return alt == 0 && interfaceNumber < FirstAudioInterface() + (m_identity.audio ? 1 : 0);
    if (alt > 1)
        return false;
    if (interfaceNumber == FirstAudioInterface() + 1) {
        if (alt == 0)
            StopPlayback();
        m_playbackAlt = alt;
    } else {
        m_lineAlt = alt;
    }
    return true;
}

uint32_t UsbAdapterDevice::SamplingFrequency(uint8_t endpoint) const
{
    return endpoint == kPlaybackEndpoint ? m_playbackRate : m_lineRate;
}

bool UsbAdapterDevice::Control(const UsbSetup& setup, const std::vector<uint8_t>& out, std::vector<uint8_t>& in)
{
    in.clear();
    const uint8_t kind = setup.requestType & kRequestTypeMask;
    const uint8_t recipient = setup.requestType & kRecipientMask;
    bool ok = false;
    if (kind == kStandard) {
        switch (setup.request) {
        case 0x00: // GET_STATUS
            in = {0, 0};
            ok = true;
            break;
        case 0x01: // CLEAR_FEATURE
        case 0x03: // SET_FEATURE
            ok = true;
            break;
        case 0x06: // GET_DESCRIPTOR
            if (recipient == 0) {
                const uint8_t type = static_cast<uint8_t>(setup.value >> 8);
                if (type == 0x01)
                    in = DeviceDescriptor();
                else if (type == 0x02 && (setup.value & 0xFF) == 0)
                    in = ConfigurationDescriptor();
                else if (type == 0x03)
                    in = StringDescriptor(static_cast<uint8_t>(setup.value & 0xFF));
                ok = !in.empty();
            } else if (recipient == kToInterface) {
                ok = HidRequest(static_cast<uint8_t>(setup.index), setup, out, in);
            }
            break;
        case 0x08: // GET_CONFIGURATION
            in = {m_configuration};
            ok = true;
            break;
        case 0x09: // SET_CONFIGURATION
            ok = SetConfiguration(static_cast<uint8_t>(setup.value));
            break;
        case 0x0A: // GET_INTERFACE
            in = {AltSetting(static_cast<uint8_t>(setup.index))};
            ok = true;
            break;
        case 0x0B: // SET_INTERFACE
            ok = SetAltSetting(static_cast<uint8_t>(setup.index), static_cast<uint8_t>(setup.value));
            break;
        default:
            break;
        }
    } else if (kind == kClass && recipient == kToInterface) {
        ok = HidRequest(static_cast<uint8_t>(setup.index & 0xFF), setup, out, in);
    } else if (kind == kClass && recipient == kToEndpoint && m_identity.audio) {
        ok = AudioEndpointRequest(setup, out, in);
    }
    if (in.size() > setup.length)
        in.resize(setup.length);
    return ok;
}

bool UsbAdapterDevice::HidRequest(uint8_t interfaceNumber, const UsbSetup& setup, const std::vector<uint8_t>& out,
                                  std::vector<uint8_t>& in)
{
    const bool adapter = interfaceNumber == AdapterInterface();
    const bool other = m_identity.otherInterface && interfaceNumber == 0;
    if (!adapter && !other)
        return false;
    const uint8_t type = static_cast<uint8_t>(setup.value >> 8);
    if ((setup.requestType & kRequestTypeMask) == kStandard) {
        if (type == 0x22 && adapter)
            in.assign(std::begin(kAdapterReportDescriptor), std::end(kAdapterReportDescriptor));
        else if (type == 0x22)
            in.assign(std::begin(kOtherInterfaceReportDescriptor), std::end(kOtherInterfaceReportDescriptor));
        return !in.empty();
    }
    switch (setup.request) {
    case 0x0A: // SET_IDLE
    case 0x0B: // SET_PROTOCOL
        return true;
    case 0x02: // GET_IDLE
        in = {0};
        return true;
    case 0x09: { // SET_REPORT: the feature report, report id 0 put back in front
        if (!adapter || type != 0x03 || (setup.value & 0xFF) != 0 || ModelHandle() <= 0)
            return false;
        std::vector<uint8_t> report(1, 0);
        report.insert(report.end(), out.begin(), out.end());
        int failure = 0;
        ++m_served;
        CountExchange();
        const bool sent = m_adapter.SendFeatureReport(m_handle, report.data(), report.size(), failure);
        NoteHook();
        return sent;
    }
    case 0x01: { // GET_REPORT: the model's bytes after the report id
        if (!adapter || type != 0x03 || (setup.value & 0xFF) != 0 || ModelHandle() <= 0)
            return false;
        uint8_t reply[kAdapterReportLength] = {};
        int failure = 0;
        ++m_served;
        CountExchange();
        if (!m_adapter.GetFeatureReport(m_handle, reply, sizeof reply, failure))
            return false;
        const std::vector<uint8_t> framed = FrameFeatureReply(reply, m_identity.replyLength);
        in.assign(framed.begin() + 1, framed.end());
        return true;
    }
    default:
        return false;
    }
}

bool UsbAdapterDevice::AudioEndpointRequest(const UsbSetup& setup, const std::vector<uint8_t>& out,
                                            std::vector<uint8_t>& in)
{
    const uint8_t endpoint = static_cast<uint8_t>(setup.index & 0xFF);
    if ((endpoint != kPlaybackEndpoint && endpoint != kLineInEndpoint) || (setup.value >> 8) != 0x01)
        return false;
    uint32_t& rate = endpoint == kPlaybackEndpoint ? m_playbackRate : m_lineRate;
    if (setup.request == 0x01) { // SET_CUR
        if (out.size() < 3)
            return false;
        const uint32_t asked = out[0] | (out[1] << 8) | (out[2] << 16);
        if (asked != kRate) {
            std::fprintf(stderr, "parvane-twin: the host asked for %u Hz, the adapter runs at %u Hz\n", asked, kRate);
            return false;
        }
        rate = asked;
        return true;
    }
    if (setup.request >= 0x81 && setup.request <= 0x84) { // GET_CUR, MIN, MAX, RES
        const uint32_t value = setup.request == 0x84 ? 0 : (setup.request == 0x81 ? rate : kRate);
        in = {static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF),
              static_cast<uint8_t>((value >> 16) & 0xFF)};
        return true;
    }
    return false;
}

void UsbAdapterDevice::StartLineStream()
{
    m_lineStartMs = m_adapter.NowMs();
    m_lineFrames = 0;
}

std::vector<uint8_t> UsbAdapterDevice::NextLinePacket()
{
    constexpr size_t kFrames = kFramesPerPacket;
    int16_t samples[kFrames * 2] = {};
    NoteHook();
    if (m_offHook) {
        // The frame's place on the answered line: frames since the stream
        // started, less the time from that start to the off-hook moment.
        const auto since = static_cast<int64_t>(m_adapter.OffHookSinceMs());
        const int64_t first =
            m_lineFrames + (static_cast<int64_t>(m_lineStartMs) - since) * static_cast<int64_t>(kRate / 1000);
        m_adapter.RenderLineAudio(samples, kFrames, first);
    }
    m_lineFrames += static_cast<int64_t>(kFrames);
    std::vector<uint8_t> packet(kBytesPerPacket);
    for (size_t i = 0; i < kFrames * 2; ++i) {
        packet[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(samples[i]) & 0xFF);
        packet[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(samples[i]) >> 8);
    }
    return packet;
}

void UsbAdapterDevice::StartPlayback()
{
    StopPlayback();
    m_playing = true;
    m_playbackPeak = 0;
    m_playbackFrames = 0;
    // What the host plays goes to the adapter's output as the in-process
    // playback's does: the exchange behind the line hears it there.
    m_playbackId = m_adapter.BeginPlayback(m_playbackRate, 2);
}

void UsbAdapterDevice::TakePlayback(const uint8_t* data, size_t size)
{
    if (!m_playing)
        return;
    if (m_playbackFrames == 0 && size > 0) {
        ++m_playbacks;
        std::fprintf(stderr, "parvane-twin: the host plays to the adapter's output\n");
    }
    std::vector<int16_t> samples(size / 4 * 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        const auto sample = static_cast<int16_t>(static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8)));
        samples[i] = sample;
        m_playbackPeak = std::max(m_playbackPeak, std::abs(static_cast<int>(sample)));
    }
    m_adapter.PlayAudio(m_playbackId, samples.data(), samples.size() / 2);
    m_playbackFrames += static_cast<int64_t>(size / 4);
}

void UsbAdapterDevice::StopPlayback()
{
    if (!m_playing)
        return;
    m_playing = false;
    m_adapter.EndPlayback(m_playbackId);
    if (m_playbackFrames == 0)
        return;
    const double dbfs = m_playbackPeak > 0 ? 20.0 * std::log10(m_playbackPeak / 32768.0) : -120.0;
    std::fprintf(stderr, "parvane-twin: the host played %lld frames to the adapter's output, peak %.1f dBFS\n",
                 static_cast<long long>(m_playbackFrames), dbfs);
}

} // namespace parvane
