#include "target/TargetProfile.h"

const char* const PortNameTable[PortNameCount] = {
    "COM1",         "COM2",         "COM3",         "COM4",         "COM5",         "COM6",
    "COM7",         "COM8",         "COM9",         "\\\\.\\COM10", "\\\\.\\COM11", "\\\\.\\COM12",
    "\\\\.\\COM13", "\\\\.\\COM14", "\\\\.\\COM15", "\\\\.\\COM16", "\\\\.\\COM17", "\\\\.\\COM18",
    "\\\\.\\COM19", "\\\\.\\COM20", "\\\\.\\COM21",
};

const BaudEntry BaudTable[BaudCount] = {
    {"110", 110},     {"300", 300},     {"600", 600},       {"1200", 1200},     {"2400", 2400},
    {"4800", 4800},   {"9600", 9600},   {"14400", 14400},   {"19200", 19200},   {"38400", 38400},
    {"56000", 56000}, {"57600", 57600}, {"115200", 115200}, {"128000", 128000}, {"256000", 256000},
};

TargetProfileData TargetProfile;

std::atomic<std::int32_t> g_stage{0};
std::atomic<std::int32_t> ProgressTotal{0};
std::atomic<std::int32_t> ProgressCount{0};
std::atomic<std::int32_t> ProgressPercent{0};

void LoadDefaults() {
    TargetProfileData& p = TargetProfile;
    p.PortHandle = InvalidComHandle;
    p.BaudRate = BaudTable[DefaultBaudIndex].Value;
    p.PortName = PortNameTable[0];
    p.ReadTimeoutMs = 1500;
    p.MaxReadCount = 128;
    p.Retries = 9;
    p.DeviceName = "PIC18F452";
    p.DeviceNumber = "33";
    p.WriteBlock = 8;
    p.EraseBlock = 64;
    p.AddressUnit = 1;
    p.HexPath = "test.hex";
    p.OutputHexPath = "testo.hex";
    p.ProgramEnd = 0x7FFF;
    p.ProgramStart = 0x200;
    p.EepromEnd = 0xFF;
    p.EepromStart = 0;
    p.ConfigEnd = 0x30000F;
    p.ConfigStart = 0x300000;
    p.IdEnd = 0x20000F;
    p.IdStart = 0x200000;
    p.ProgramEnable = 1;
    p.EepromEnable = 1;
    p.IdEnable = 0;
    p.ConfigEnable = 0;
    p.Connected = 0;
}
