// Runs under Wine for the wine tests and reports what the Win32 port layer did, one
// "name=value" line per finding, so the test on the Linux side can check it.
//
//   tervix-port-probe line-settings          the settings written over a record with every bit set
//   tervix-port-probe dirty PORT             leaves PORT as a careless program would
//   tervix-port-probe settings PORT          what PORT is set to now, without changing it
//   tervix-port-probe close-in-read PORT MS  closes PORT while a read waits out MS ms
//   tervix-port-probe unanswered PORT        asks PORT's board for its device and leaves unread
//                                            the reply, as a program killed then would

#include "link/ComPort.h"
#include "link/ComPortWin32.h"
#include "link/Packet.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

int LineSettings() {
    DCB dcb;
    std::memset(&dcb, 0xFF, sizeof(dcb));
    dcb.DCBlength = sizeof(dcb);
    ApplyLineSettings(dcb, 115200);
    std::printf("BaudRate=%lu\nByteSize=%u\nParity=%u\nStopBits=%u\n",
                static_cast<unsigned long>(dcb.BaudRate), dcb.ByteSize, dcb.Parity, dcb.StopBits);
    std::printf("fOutxCtsFlow=%u\nfOutxDsrFlow=%u\nfDtrControl=%u\nfRtsControl=%u\n",
                dcb.fOutxCtsFlow, dcb.fOutxDsrFlow, dcb.fDtrControl, dcb.fRtsControl);
    std::printf("fOutX=%u\nfInX=%u\nfNull=%u\nfDsrSensitivity=%u\nfAbortOnError=%u\n", dcb.fOutX,
                dcb.fInX, dcb.fNull, dcb.fDsrSensitivity, dcb.fAbortOnError);
    std::printf("fParity=%u\nfErrorChar=%u\n", dcb.fParity, dcb.fErrorChar);
    return 0;
}

int Dirty(const char* name) {
    HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::printf("open=failed %lu\n", GetLastError());
        return 1;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    GetCommState(port, &dcb);
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.fNull = TRUE;
    dcb.fAbortOnError = TRUE;
    dcb.fParity = TRUE;
    dcb.fErrorChar = TRUE;
    dcb.ErrorChar = '?';
    const bool set = SetCommState(port, &dcb) != 0;
    DCB back{};
    back.DCBlength = sizeof(back);
    GetCommState(port, &back);
    std::printf("set=%d\nfOutX=%u\nfInX=%u\nfNull=%u\n", set ? 1 : 0, back.fOutX, back.fInX,
                back.fNull);
    CloseHandle(port);
    return set ? 0 : 1;
}

int CloseInRead(const char* name, std::uint32_t timeoutMs) {
    const ComHandle port = OpenComPort(name, 115200, timeoutMs);
    if (port == InvalidComHandle) {
        std::printf("open=failed\n");
        return 1;
    }
    int result = 2;
    Clock::time_point closedAt;
    long afterClose = -1;
    std::thread reader([&] {
        std::uint8_t byte = 0;
        result = ReadComByte(port, &byte);
        afterClose = MsSince(closedAt);
    });
    // Long enough for the read to be waiting in the system call.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    closedAt = Clock::now();
    const int closed = CloseComPort(port);
    const long closeMs = MsSince(closedAt);
    reader.join();
    std::printf("close=%d\nclose_ms=%ld\nread=%d\nread_ms=%ld\n", closed, closeMs, result,
                afterClose);
    return 0;
}

int Unanswered(const char* name) {
    const ComHandle port = OpenComPort(name, 115200, 1000);
    if (port == InvalidComHandle) {
        std::printf("open=failed\n");
        return 1;
    }
    const std::uint8_t readDevice[] = {0x01, 0x02, 0xFE, 0xFF, 0x3F};
    const std::int32_t sent = SendPacket(port, readDevice, sizeof readDevice);
    // The board answers within this, and the reply waits on the line.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::printf("sent=%d\nclose=%d\n", static_cast<int>(sent), CloseComPort(port));
    return sent > 0 ? 0 : 1;
}

int Settings(const char* name) {
    HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::printf("open=failed %lu\n", GetLastError());
        return 1;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    const bool read = GetCommState(port, &dcb) != 0;
    std::printf("fOutX=%u\nfInX=%u\n", dcb.fOutX, dcb.fInX);
    CloseHandle(port);
    return read ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "line-settings") == 0) {
        return LineSettings();
    }
    if (argc == 3 && std::strcmp(argv[1], "dirty") == 0) {
        return Dirty(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "settings") == 0) {
        return Settings(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "unanswered") == 0) {
        return Unanswered(argv[2]);
    }
    if (argc == 4 && std::strcmp(argv[1], "close-in-read") == 0) {
        return CloseInRead(argv[2], static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10)));
    }
    std::fprintf(stderr, "usage: tervix-port-probe line-settings | dirty PORT | settings PORT | "
                         "close-in-read PORT MS | unanswered PORT\n");
    return 64;
}
