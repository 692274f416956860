#include "app/PortPermission.h"

#include "target/PortRefusals.h"

#include <QStringList>

QString PortPermissionAdvice() {
    QStringList lines;
    for (const PortOpenFailure& refused : PermissionRefusals()) {
        const QString device = QString::fromStdString(refused.Device);
        const QString group =
            QString::fromStdString(refused.Group.empty() ? "dialout" : refused.Group);
        if (refused.JoiningGroupHelps()) {
            lines << QStringLiteral("%1 exists, but you may not open it: it belongs to the group "
                                    "%2.\nJoin the group with\n    sudo usermod -aG %2 $USER\n"
                                    "then log out and in again.")
                         .arg(device, group);
        } else {
            // Joining a group that may not read and write the device would not help.
            lines << QStringLiteral("%1 exists, but you may not open it: it belongs to %2, group "
                                    "%3, mode %4, and no group may use it.\nA udev rule or the "
                                    "administrator must grant you access.")
                         .arg(device, QString::fromStdString(refused.Owner), group,
                              QString::fromStdString(DeviceModeText(refused.Mode)));
        }
    }
    return lines.join(QStringLiteral("\n\n"));
}
