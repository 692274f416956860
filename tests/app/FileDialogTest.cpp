// The open-file dialog the job shows: its filters, and that the HEX filter matches file names in
// any case, as it does on Windows.

#include "app/qt/PromptHost.h"
#include "tests/app/DialogFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QListView>

namespace {

TEST(FileDialog, HexFilterShowsLowerAndUpperCaseNamesAndHidesOthers) {
    WorkingFolder folder;
    for (const char* name : {"blink.hex", "BLINK.HEX", "Mixed.Hex", "notes.txt"}) {
        folder.Create(name, ":00000001FF\n");
    }
    std::unique_ptr<PromptHost> host = MakeBoxPrompts();
    bool answered = false;
    host->Show(nullptr, Prompt{PromptKind::OpenHexFile, {}, {}, {}, false, {}},
               [&](const PromptAnswer&) { answered = true; });

    QFileDialog* dialog = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* d = qobject_cast<QFileDialog*>(w); d != nullptr && d->isVisible()) {
            dialog = d;
        }
    }
    ASSERT_NE(dialog, nullptr);
    auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(types, nullptr);
    ASSERT_EQ(types->count(), 2);
    EXPECT_EQ(types->itemText(0), QStringLiteral("INHEX32 Files (*.HEX)"));
    EXPECT_EQ(types->itemText(1), QStringLiteral(" Any Files (*.*)"));
    EXPECT_EQ(types->currentIndex(), 0);

    auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
    ASSERT_NE(list, nullptr);
    auto shown = [&] {
        QStringList names;
        const QModelIndex root = list->rootIndex();
        for (int row = 0; row < list->model()->rowCount(root); ++row) {
            const QModelIndex index = list->model()->index(row, 0, root);
            if (!list->isRowHidden(row)) {
                names << index.data().toString();
            }
        }
        names.sort();
        return names;
    };
    const QStringList hexFiles{QStringLiteral("BLINK.HEX"), QStringLiteral("Mixed.Hex"),
                               QStringLiteral("blink.hex")};
    EXPECT_TRUE(WaitUntil([&] { return shown() == hexFiles; }, 10000))
        << shown().join(' ').toStdString();

    host->Dismiss();
    EXPECT_FALSE(answered);
}

} // namespace
