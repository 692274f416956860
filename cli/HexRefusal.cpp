#include "cli/HexRefusal.h"

#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "target/ProgramLog.h"
#include "target/TargetProfile.h"

int RefuseUnfitFile(const std::string& file, const std::string& name, HexCheck& check) {
    const char* path = name.c_str();
    check = CheckHexFile(file.c_str(), HexRowSettingsFromProfile(TargetProfile.AddressUnit));
    switch (check.Fault) {
    case HexFault::None:
        break;
    case HexFault::Unreadable:
        return Fail(ExitStatus::File, "cannot read " + name);
    case HexFault::Refused:
        return Fail(ExitStatus::File,
                    Format("%s line %u: %s; nothing was written (the programmer would stop with "
                           "%d)",
                           path, static_cast<unsigned>(check.ErrorLine), check.Error.c_str(),
                           static_cast<int>(check.Code)));
    case HexFault::Unwritable:
        return Fail(ExitStatus::File,
                    Format("%s line %u: %s; nothing was written", path,
                           static_cast<unsigned>(check.ErrorLine), check.Error.c_str()));
    case HexFault::NoData:
        return Fail(ExitStatus::File,
                    Format("%s: %s; nothing was erased", path, check.Error.c_str()));
    case HexFault::LogUnwritable:
        return Fail(ExitStatus::File, std::string("cannot write ") + ProgramLogName +
                                          " here; run from a folder you can write to");
    }
    return ExitStatus::Success;
}
