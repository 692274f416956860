#include "cli/HexRefusal.h"

#include "cli/ExitStatus.h"
#include "cli/Messages.h"
#include "target/HexProgrammer.h"
#include "target/TargetProfile.h"

int RefuseUnfitFile(const std::string& file, HexCheck& check) {
    const char* path = file.c_str();
    check = CheckHexFile(path, HexRowSettingsFromProfile(TargetProfile.AddressUnit));
    if (check.Code == ProgramResult::FileError) {
        return Fail(ExitStatus::File, "cannot read " + file);
    }
    if (check.Code < 0) {
        return Fail(ExitStatus::File,
                    Format("%s line %u: %s; nothing was written (the programmer would stop with "
                           "%d)",
                           path, static_cast<unsigned>(check.ErrorLine), check.Error.c_str(),
                           static_cast<int>(check.Code)));
    }
    if (check.RecordsLeftUnread) {
        return Fail(ExitStatus::File,
                    Format("%s: records beyond line %d would never be written (the programmer "
                           "reads one record per line); nothing was written",
                           path, static_cast<int>(check.Lines)));
    }
    return ExitStatus::Success;
}
