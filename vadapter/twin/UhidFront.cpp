#include "vadapter/twin/UhidFront.h"

#include "vadapter/twin/AdapterHidReport.h"

#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace parvane {

namespace {

void CopyText(uint8_t* to, size_t size, const std::string& text)
{
    std::memset(to, 0, size);
    std::memcpy(to, text.data(), std::min(size - 1, text.size()));
}

} // namespace

UhidFront::UhidFront(int fd, VirtualAdapter& adapter, UhidIdentity identity, size_t replyLength)
    : m_fd(fd), m_adapter(adapter), m_identity(std::move(identity)),
      m_replyLength(std::min<size_t>(replyLength, UHID_DATA_MAX))
{
}

UhidFront::~UhidFront()
{
    Destroy();
    if (m_handle > 0)
        m_adapter.Close(m_handle);
}

bool UhidFront::Reply(const void* event, size_t size, std::string& error)
{
    if (write(m_fd, event, size) == static_cast<ssize_t>(size))
        return true;
    error = std::string("uhid write failed: ") + std::strerror(errno);
    return false;
}

bool UhidFront::Create(std::string& error)
{
    uhid_event event{};
    event.type = UHID_CREATE2;
    auto& create = event.u.create2;
    CopyText(create.name, sizeof create.name, m_identity.name);
    CopyText(create.phys, sizeof create.phys, "parvane-twin");
    CopyText(create.uniq, sizeof create.uniq, m_identity.serial);
    const uint8_t* descriptor = m_identity.featureReport ? kAdapterReportDescriptor : kOtherInterfaceReportDescriptor;
    const size_t descriptorSize =
        m_identity.featureReport ? sizeof kAdapterReportDescriptor : sizeof kOtherInterfaceReportDescriptor;
    std::memcpy(create.rd_data, descriptor, descriptorSize);
    create.rd_size = static_cast<uint16_t>(descriptorSize);
    create.bus = 0x03; // BUS_USB
    create.vendor = m_identity.vendorId;
    create.product = m_identity.productId;
    create.version = 0x0100;
    if (!Reply(&event, sizeof event, error))
        return false;
    m_created = true;
    return true;
}

void UhidFront::Destroy()
{
    if (!m_created)
        return;
    uhid_event event{};
    event.type = UHID_DESTROY;
    std::string ignored;
    Reply(&event, sizeof event, ignored);
    m_created = false;
}

int UhidFront::ModelHandle()
{
    // Only the interface with the adapter's report reaches the registers.
    if (m_handle <= 0 && m_identity.featureReport)
        m_handle = m_adapter.Open(m_identity.vendorId, m_identity.productId);
    return m_handle;
}

bool UhidFront::Serve(int timeoutMs, std::string& error)
{
    pollfd waiting{m_fd, POLLIN, 0};
    const int ready = poll(&waiting, 1, timeoutMs);
    if (ready < 0 && errno == EINTR)
        return true;
    if (ready < 0) {
        error = std::string("uhid poll failed: ") + std::strerror(errno);
        return false;
    }
    if (ready == 0)
        return true;
    uhid_event event{};
    const ssize_t got = read(m_fd, &event, sizeof event);
    if (got <= 0) {
        error = got == 0 ? "uhid closed" : std::string("uhid read failed: ") + std::strerror(errno);
        return false;
    }
    // hidraw's first open and last close stand for the host opening and
    // closing the adapter: the model starts its call timing at the open.
    if (event.type == UHID_OPEN) {
        ModelHandle();
    } else if (event.type == UHID_CLOSE && m_handle > 0) {
        m_adapter.Close(m_handle);
        m_handle = 0;
    } else if (event.type == UHID_SET_REPORT) {
        const auto& request = event.u.set_report;
        int failure = 0;
        const bool ok = request.rtype == UHID_FEATURE_REPORT && ModelHandle() > 0 &&
                        m_adapter.SendFeatureReport(m_handle, request.data, request.size, failure);
        ++m_served;
        uhid_event answer{};
        answer.type = UHID_SET_REPORT_REPLY;
        answer.u.set_report_reply.id = request.id;
        answer.u.set_report_reply.err = ok ? 0 : EIO;
        return Reply(&answer, sizeof answer, error);
    } else if (event.type == UHID_GET_REPORT) {
        const auto& request = event.u.get_report;
        uint8_t reply[kAdapterReportLength] = {};
        int failure = 0;
        const bool ok = request.rtype == UHID_FEATURE_REPORT && ModelHandle() > 0 &&
                        m_adapter.GetFeatureReport(m_handle, reply, sizeof reply, failure);
        ++m_served;
        uhid_event answer{};
        answer.type = UHID_GET_REPORT_REPLY;
        answer.u.get_report_reply.id = request.id;
        answer.u.get_report_reply.err = ok ? 0 : EIO;
        if (ok) {
            const std::vector<uint8_t> framed = FrameFeatureReply(reply, m_replyLength);
            if (!framed.empty()) // a zero-length reply has no data to copy
                std::memcpy(answer.u.get_report_reply.data, framed.data(), framed.size());
            answer.u.get_report_reply.size = static_cast<uint16_t>(framed.size());
        }
        return Reply(&answer, sizeof answer, error);
    }
    return true; // START, STOP, OUTPUT: nothing to answer
}

} // namespace parvane
