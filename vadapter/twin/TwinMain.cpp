// parvane-twin: the virtual adapter behind the kernel's own layers, for
// running the programs unchanged against it (no PARVANE_VIRTUAL_ADAPTER):
// either as a USB device on a virtual port (--usb-redir: the usbredir socket
// of a QEMU usb-redir device, whose guest's xhci, usbhid and snd-usb-audio
// drivers take it), or, in this kernel, its HID side through /dev/uhid and
// its USB audio as an ALSA client. Runs until SIGTERM or SIGINT, then
// unplugs.
#include "vadapter/VirtualAdapterDevice.h"
#include "vadapter/twin/AlsaLineFront.h"
#include "vadapter/twin/UhidFront.h"
#include "vadapter/twin/UsbRedirFront.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

const char* const kUsage =
    "usage: parvane-twin [--vendor-id ID] [--product-id ID] [--reply-length N] [--other-interface]\n"
    "                    [--line-pcm PCM] [--heard-status FILE] [--no-audio] [--usb-redir SOCKET]\n"
    "                    PRESET|SCENARIO\n"
    "  --usb-redir SOCKET be a USB device on the usbredir socket SOCKET (QEMU's usb-redir chardev)\n"
    "  --reply-length N   answer feature-report reads with N bytes (default 9, as usbhid does)\n"
    "  --other-interface  first add an interface without the adapter's feature report, same ids\n"
    "  --line-pcm PCM     ALSA PCM the line audio is played into (default hw:Loopback,0,0)\n"
    "  --heard-status F   status file of the PCM the host plays the adapter's output into\n"
    "                     (default /proc/asound/Loopback/pcm1p/sub1/status)\n";

bool ParseId(const char* text, unsigned long maximum, unsigned long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, 0);
    return errno == 0 && end != text && *end == '\0' && value <= maximum;
}

int Usage(const std::string& problem)
{
    std::fprintf(stderr, "parvane-twin: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

std::string SerialText(const std::array<uint8_t, 6>& serial)
{
    char text[24];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", serial[0], serial[1], serial[2], serial[3],
                  serial[4], serial[5]);
    return text;
}

// Connects to the usbredir socket (the peer listens) and serves as the USB
// device until a signal or the peer closes; the signal unplugs it.
int ServeUsbRedir(const std::string& path, parvane::VirtualAdapter& adapter, const parvane::Scenario& scenario,
                  size_t replyLength, bool otherInterface, bool audio)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return Usage("socket path too long: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "parvane-twin: cannot connect to %s: %s\n", path.c_str(), std::strerror(errno));
        if (fd >= 0)
            close(fd);
        return 1;
    }
    parvane::UsbIdentity identity{scenario.vendorId, scenario.productId, scenario.model,
                                  SerialText(scenario.serial), otherInterface, audio, replyLength};
    parvane::UsbAdapterDevice device(adapter, identity);
    parvane::UsbRedirFront front(fd, device, scenario.vendorId, scenario.productId);
    std::fprintf(stderr, "parvane-twin: %s plugged in as USB device %04x:%04x on %s\n", scenario.model.c_str(),
                 scenario.vendorId, scenario.productId, path.c_str());
    std::string error;
    while (g_stop == 0) {
        if (!front.Serve(100, error)) {
            std::fprintf(stderr, "parvane-twin: %s\n", error.c_str());
            return 1;
        }
    }
    front.Unplug();
    std::fprintf(stderr, "parvane-twin: unplugged after %d reports, %ld line packets, %ld ms of line audio skipped\n",
                 device.ReportsServed(), front.LinePacketsSent(), front.LineMsSkipped());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    long vendorId = -1;
    long productId = -1;
    unsigned long replyLength = 9;
    bool otherInterface = false;
    bool audio = true;
    std::string linePcm = "hw:Loopback,0,0";
    std::string heardStatus = "/proc/asound/Loopback/pcm1p/sub1/status";
    std::string source;
    std::string usbRedir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        unsigned long value = 0;
        if ((arg == "--vendor-id" || arg == "--product-id") && hasValue) {
            if (!ParseId(argv[++i], 0xFFFF, value))
                return Usage("bad " + arg + " value: " + argv[i]);
            (arg == "--vendor-id" ? vendorId : productId) = static_cast<long>(value);
        } else if (arg == "--reply-length" && hasValue) {
            if (!ParseId(argv[++i], 64, replyLength) || replyLength == 0)
                return Usage(std::string("bad --reply-length value: ") + argv[i]);
        } else if (arg == "--usb-redir" && hasValue) {
            usbRedir = argv[++i];
        } else if (arg == "--line-pcm" && hasValue) {
            linePcm = argv[++i];
        } else if (arg == "--heard-status" && hasValue) {
            heardStatus = argv[++i];
        } else if (arg == "--other-interface") {
            otherInterface = true;
        } else if (arg == "--no-audio") {
            audio = false;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg.starts_with("-") || !source.empty()) {
            return Usage("unexpected argument: " + arg);
        } else {
            source = arg;
        }
    }
    if (source.empty())
        return Usage("no preset or scenario file given");

    parvane::Scenario scenario;
    std::string error;
    if (!parvane::LoadScenario(source, scenario, error)) {
        std::fprintf(stderr, "parvane-twin: %s\n", error.c_str());
        return 2;
    }
    if (vendorId >= 0)
        scenario.vendorId = static_cast<uint16_t>(vendorId);
    if (productId >= 0)
        scenario.productId = static_cast<uint16_t>(productId);
    parvane::VirtualAdapterDevice adapter(scenario);

    struct sigaction action{};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    if (!usbRedir.empty())
        return ServeUsbRedir(usbRedir, adapter, scenario, replyLength, otherInterface, audio);

    const parvane::UhidIdentity identity{scenario.vendorId, scenario.productId, scenario.model,
                                         SerialText(scenario.serial), true};
    const int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    const int otherFd = otherInterface ? open("/dev/uhid", O_RDWR | O_CLOEXEC) : -1;
    if (fd < 0 || (otherInterface && otherFd < 0)) {
        std::fprintf(stderr, "parvane-twin: cannot open /dev/uhid: %s (is the uhid module loaded?)\n",
                     std::strerror(errno));
        return 1;
    }
    // The other interface of a composite adapter comes first, so a search
    // that takes the first node with the ids takes the wrong one.
    parvane::UhidIdentity otherIdentity = identity;
    otherIdentity.featureReport = false;
    parvane::UhidFront other(otherFd, adapter, otherIdentity);
    if (otherInterface && !other.Create(error)) {
        std::fprintf(stderr, "parvane-twin: %s\n", error.c_str());
        return 1;
    }
    parvane::UhidFront front(fd, adapter, identity, replyLength);
    if (!front.Create(error)) {
        std::fprintf(stderr, "parvane-twin: %s\n", error.c_str());
        return 1;
    }
    parvane::AlsaLineFront line(adapter);
    if (audio && !line.Start(linePcm, heardStatus, error)) {
        std::fprintf(stderr, "parvane-twin: %s\n", error.c_str());
        return 1;
    }
    const std::string audioNote = audio ? ", line audio on " + linePcm : "";
    std::fprintf(stderr, "parvane-twin: %s plugged in as %04x:%04x%s\n", scenario.model.c_str(), scenario.vendorId,
                 scenario.productId, audioNote.c_str());
    while (g_stop == 0) {
        if (!front.Serve(100, error) || (otherInterface && !other.Serve(0, error))) {
            std::fprintf(stderr, "parvane-twin: %s\n", error.c_str());
            return 1;
        }
    }
    line.Stop();
    front.Destroy();
    other.Destroy();
    std::fprintf(stderr, "parvane-twin: unplugged after %d reports\n", front.ReportsServed());
    return 0;
}
