#include "cli/ProjectCommand.h"

#include "cli/ExitStatus.h"
#include "cli/HexRefusal.h"
#include "cli/LineOptions.h"
#include "cli/Messages.h"
#include "cli/PortAnswer.h"
#include "cli/PortMap.h"
#include "line/HexSnapshot.h"
#include "line/Project.h"
#include "line/ProjectLock.h"
#include "line/RecordFile.h"
#include "line/SharedFile.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

namespace {

namespace fs = std::filesystem;

int RefuseProject(const std::vector<std::string>& faults) {
    for (const std::string& fault : faults) {
        Fail(ExitStatus::File, fault);
    }
    return ExitStatus::File;
}

int RunLock(const std::string& path) {
    LoadDefaults();
    std::string text;
    std::string why;
    if (!ReadProjectText(path, text, why)) {
        return Fail(ExitStatus::File, why);
    }
    std::vector<std::string> faults;
    const auto project = ParseProject(text, path, ProjectRead::Lock, faults);
    if (!project) {
        return RefuseProject(faults);
    }
    const HexSnapshot firmware(project->Firmware);
    if (!firmware.Ok()) {
        return Fail(ExitStatus::File, firmware.Error());
    }
    // A project locked to a file that flash refuses could never run a board.
    HexCheck check;
    if (int status = RefuseUnfitFile(firmware.Path(), project->Firmware, check);
        status != ExitStatus::Success) {
        return status;
    }
    const std::string& digest = *firmware.Sha256();
    if (project->Sha256 == digest) {
        std::printf("%s: already locked to %s (%s)\n", path.c_str(), digest.c_str(),
                    project->Firmware.c_str());
        return ExitStatus::Success;
    }
    const auto locked = LockedProjectText(text, *project, digest, why);
    if (!locked) {
        return Fail(ExitStatus::File, why);
    }
    // Through a link, the file it leads to is replaced, and the link stays.
    std::error_code error;
    const fs::path target = fs::canonical(path, error);
    if (error || !ReplaceFileDurably(target.string(), *locked)) {
        return Fail(ExitStatus::File,
                    "cannot write " + path + " (a new file beside it, renamed over it)");
    }
    std::printf("%s: locked to %s, the SHA-256 of %s\n", path.c_str(), digest.c_str(),
                project->Firmware.c_str());
    if (project->Sha256 && !project->Sha256->empty()) {
        std::printf("  it was %s\n", project->Sha256->c_str());
    }
    return ExitStatus::Success;
}

// The firmware: readable, as locked, and a file flash takes. Prints what it holds.
bool CheckFirmware(const Project& project, const HexSnapshot& firmware) {
    if (!firmware.Ok()) {
        Fail(ExitStatus::File, firmware.Error());
        return false;
    }
    HexCheck check;
    if (RefuseUnfitFile(firmware.Path(), project.Firmware, check) != ExitStatus::Success) {
        return false;
    }
    std::map<HexSpace, std::size_t> rows;
    for (const CheckedRow& row : check.Rows) {
        rows[row.Space] += row.Sent ? 1 : 0;
    }
    std::string spaces;
    for (const auto& [space, count] : rows) {
        if (count > 0) {
            spaces += (spaces.empty() ? "" : ", ") + std::string(HexSpaceName(space)) + " " +
                      std::to_string(count);
        }
    }
    std::printf("firmware: %s, rows to write: %s%s\n", project.Firmware.c_str(), spaces.c_str(),
                project.Fast ? "; fast" : "");
    if (const std::string refusal = FirmwareLockRefusal(project, *firmware.Sha256());
        !refusal.empty()) {
        Fail(ExitStatus::File, refusal);
        return false;
    }
    std::printf("  sha256 %s, as locked\n", project.Sha256->c_str());
    return true;
}

// The serial numbers: the same checks as the --serial-... options, on as many boards as the
// station has ports.
bool CheckSerial(const Project& project, const HexSnapshot& firmware) {
    if (!project.Serial) {
        std::printf("serial: none\n");
        return true;
    }
    SerialSettings settings = project.Serial->Settings;
    const std::string where = project.Where("serial") + ": serial: ";
    SerialFault fault = CheckSerialSettings(settings, "", project.Ports.size());
    if (!fault && firmware.Ok()) {
        fault = SerialPlaceCovered(settings, firmware.Path(), project.Firmware);
    }
    if (fault) {
        Fail(ExitStatus::File, where + SerialFaultText(fault));
        return false;
    }
    const SerialSource& source = settings.Source;
    if (source.File().empty()) {
        // From the line server's pool, which an offline check does not ask.
        std::printf("serial: %s at %s, from the pool %s of the line server\n",
                    project.Serial->Format.c_str(), SerialPlaceText(*settings.Place).c_str(),
                    project.Line->Pool.c_str());
        return true;
    }
    SerialBook book(source);
    std::string why;
    const std::optional<std::string> next =
        book.LoadLocked(why) ? book.Next() : std::optional<std::string>();
    if (!next) {
        Fail(ExitStatus::File, where + source.File() + " has no number left to give");
        return false;
    }
    std::printf("serial: %s at %s, from the %s %s: next %s", project.Serial->Format.c_str(),
                SerialPlaceText(*settings.Place).c_str(), book.Counter() ? "counter" : "list",
                source.File().c_str(), next->c_str());
    if (book.Counter()) {
        std::printf(", step %llu", static_cast<unsigned long long>(source.Step));
    }
    std::printf("%s\n", settings.Keep ? "; a board that holds a number keeps it" : "");
    return true;
}

// The record file: appended to as a run does; a file not there yet is made, empty.
bool CheckRecords(const Project& project) {
    std::error_code error;
    const bool existed = fs::exists(project.Records, error);
    const RecordFile file(project.Records);
    if (!file.Ok()) {
        Fail(ExitStatus::File, "cannot write the record " + project.Records + ": " + file.Error());
        return false;
    }
    if (file.IsFile(project.Firmware)) {
        Fail(ExitStatus::File, project.Where("records.file") + ": the record " + project.Records +
                                   " is the HEX file " + project.Firmware);
        return false;
    }
    std::string tags;
    for (const auto& [key, value] : project.Tags) {
        tags += (tags.empty() ? "" : ", ") + key + "=" + value;
    }
    std::printf("records: %s can be appended%s; %s%s\n", project.Records.c_str(),
                existed ? "" : " (made now, empty)",
                tags.empty() ? "no tags" : ("tags " + tags).c_str(),
                project.Line ? ("; and sent to the line server " + project.Line->Url).c_str() : "");
    return true;
}

// The ports: names --port takes (a COM name of the table, or a device path), each port once.
bool CheckStation(const Project& project) {
    std::printf("station %s: %s, %s\n", project.Station.c_str(),
                Counted(project.Ports.size(), "port").c_str(),
                project.Start == ProjectStart::Board ? "a board starts when it answers"
                                                     : "the operator starts the boards");
    bool ok = true;
    for (std::size_t i = 0; i < project.Ports.size(); ++i) {
        if (const std::string fault = ProjectPortFault(project, i); !fault.empty()) {
            Fail(ExitStatus::File, fault);
            ok = false;
            continue;
        }
        const std::string& port = project.Ports[i];
        const std::string device = ShownDevice(port.c_str());
        std::printf("  %-10s %s\n", port.c_str(), device.empty() ? "-" : device.c_str());
    }
    return ok;
}

int RunCheck(const std::string& path) {
    // The serial place and the file are judged against the profile's memory map.
    LoadDefaults();
    std::vector<std::string> faults;
    const auto project = LoadProject(path, ProjectRead::Use, faults);
    if (!project) {
        return RefuseProject(faults);
    }
    std::printf("%s: project %s\n", path.c_str(), project->Name.c_str());
    const HexSnapshot firmware(project->Firmware);
    std::size_t problems = 0;
    for (const bool ok : {CheckFirmware(*project, firmware), CheckSerial(*project, firmware),
                          CheckRecords(*project), CheckStation(*project)}) {
        problems += ok ? 0 : 1;
    }
    if (problems > 0) {
        return Fail(ExitStatus::File,
                    path + " is not ready for the line: " + Counted(problems, "part") + " failed");
    }
    std::printf("ok: %s is ready for the line\n", path.c_str());
    return ExitStatus::Success;
}

} // namespace

std::string ProjectPortFault(const Project& project, std::size_t index) {
    const std::string& port = project.Ports[index];
    const std::string where = project.Where("station.ports[" + std::to_string(index) + "]");
    const std::string plain = PlainComName(port);
    const bool known =
        fs::path(port).is_absolute() ||
        std::any_of(std::begin(PortNameTable), std::end(PortNameTable),
                    [&plain](const char* name) { return plain == PlainComName(name); });
    if (!known) {
        return where + ": " + port + " is not a port name (COM1 to COM21, or a device path)";
    }
    for (std::size_t before = 0; before < index; ++before) {
        const std::string& other = project.Ports[before];
        if (PortIdentity(other) == PortIdentity(port)) {
            return where + ": " + other + " and " + port + " name the same port";
        }
    }
    return {};
}

int LoadProjectToRun(const std::string& path, ProjectRun& run) {
    LoadDefaults();
    std::vector<std::string> faults;
    auto project = LoadProject(path, ProjectRead::Use, faults);
    if (!project) {
        return RefuseProject(faults);
    }
    run.Settings = std::move(*project);
    const Project& settings = run.Settings;
    run.Firmware = std::make_unique<HexSnapshot>(settings.Firmware);
    if (!run.Firmware->Ok()) {
        return Fail(ExitStatus::File, run.Firmware->Error());
    }
    if (const std::string refusal = FirmwareLockRefusal(settings, *run.Firmware->Sha256());
        !refusal.empty()) {
        return Fail(ExitStatus::File, refusal);
    }
    HexCheck check;
    if (int status = RefuseUnfitFile(run.Firmware->Path(), settings.Firmware, check);
        status != ExitStatus::Success) {
        return status;
    }
    if (settings.Serial) {
        SerialSettings serial = settings.Serial->Settings;
        SerialFault fault = CheckSerialSettings(serial, "", settings.Ports.size());
        if (!fault) {
            fault = SerialPlaceCovered(serial, run.Firmware->Path(), settings.Firmware);
        }
        if (fault) {
            return Fail(ExitStatus::File, settings.Where("serial") + ": serial: " + fault.Why);
        }
    }
    const RecordFile records(settings.Records);
    if (!records.Ok()) {
        return Fail(ExitStatus::File,
                    "cannot write the record " + settings.Records + ": " + records.Error());
    }
    if (records.IsFile(settings.Firmware)) {
        return Fail(ExitStatus::File, settings.Where("records.file") + ": the record " +
                                          settings.Records + " is the HEX file " +
                                          settings.Firmware);
    }
    for (std::size_t i = 0; i < settings.Ports.size(); ++i) {
        if (const std::string fault = ProjectPortFault(settings, i); !fault.empty()) {
            return Fail(ExitStatus::File, fault);
        }
    }
    return ExitStatus::Success;
}

CLI::App* AddProjectCommand(CLI::App& app, ProjectCommandOptions& options) {
    CLI::App* project = app.add_subcommand(
        "project", "A production line's project file (TOML): lock it to its firmware, or check it");
    project->require_subcommand(1);
    CLI::App* lock = project->add_subcommand(
        "lock", "Write the firmware's SHA-256 into the project file, keeping the rest as it is");
    lock->add_option("PROJECT", options.File, "Project file")->required();
    lock->callback([&options] { options.Lock = true; });
    CLI::App* check = project->add_subcommand(
        "check", "Without a port: the firmware as locked and fit to flash, the serial numbers, the "
                 "record file and the ports; exits 0, or 2 naming what is wrong");
    check->add_option("PROJECT", options.File, "Project file")->required();
    return project;
}

int RunProject(const ProjectCommandOptions& options) {
    return options.Lock ? RunLock(options.File) : RunCheck(options.File);
}
