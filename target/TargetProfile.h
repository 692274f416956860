#pragma once
// The one process-wide block of settings and connection state, the two constant tables and the
// shared job stage and progress values. Several threads read and write these without locks, so
// every value is an atomic of its natural width (relaxed order is all that is relied on).

#include "link/ComPort.h"

#include <atomic>
#include <cstdint>

inline constexpr int PortNameCount = 21;
extern const char* const PortNameTable[PortNameCount];

struct BaudEntry {
    const char* Text;
    std::uint32_t Value;
};
inline constexpr int BaudCount = 15;
extern const BaudEntry BaudTable[BaudCount];
inline constexpr int DefaultBaudIndex = 12;

struct TargetProfileData {
    std::atomic<ComHandle> PortHandle{InvalidComHandle};
    std::atomic<std::uint32_t> BaudRate{0};
    std::atomic<const char*> PortName{nullptr};
    std::atomic<std::uint32_t> ReadTimeoutMs{0};
    std::atomic<std::int32_t> PortIndex{0};
    std::atomic<std::uint8_t> MaxReadCount{0};
    std::atomic<std::uint16_t> Retries{0};
    std::atomic<const char*> DeviceName{nullptr};
    std::atomic<const char*> DeviceNumber{nullptr};
    std::atomic<std::uint8_t> WriteBlock{0};
    std::atomic<std::uint8_t> EraseBlock{0};
    std::atomic<std::uint8_t> AddressUnit{0};
    std::atomic<const char*> HexPath{nullptr};
    std::atomic<const char*> OutputHexPath{nullptr};
    std::atomic<std::uint32_t> ProgramEnd{0};
    std::atomic<std::uint32_t> ProgramStart{0};
    std::atomic<std::uint32_t> EepromEnd{0};
    std::atomic<std::uint32_t> EepromStart{0};
    std::atomic<std::uint32_t> ConfigEnd{0};
    std::atomic<std::uint32_t> ConfigStart{0};
    std::atomic<std::uint32_t> IdEnd{0};
    std::atomic<std::uint32_t> IdStart{0};
    std::atomic<std::uint8_t> ProgramEnable{0};
    std::atomic<std::uint8_t> EepromEnable{0};
    std::atomic<std::uint8_t> IdEnable{0};
    std::atomic<std::uint8_t> ConfigEnable{0};
    std::atomic<std::uint8_t> Connected{0};
};

extern TargetProfileData TargetProfile;

// Stores every default into TargetProfile. Leaves PortIndex, the stage and the progress values
// alone, and closes no port.
void LoadDefaults();

enum Stage : std::int32_t {
    StageIdle = 0,
    StageConnect = 1,
    StageHexInput = 2,
    StageClear = 3,
    StageWrite = 4,
    StageFinishFailed = 5,
    StageConnectFailed = -1,
    StageNoFile = -2,
    StageClearFailed = -3,
    StageWriteFailed = -4,
    StageDone = -5,
    StageParked = -105,
};

extern std::atomic<std::int32_t> g_stage;
extern std::atomic<std::int32_t> ProgressTotal;
extern std::atomic<std::int32_t> ProgressCount;
extern std::atomic<std::int32_t> ProgressPercent;
