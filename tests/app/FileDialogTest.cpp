// The open-file dialog the job shows: its filters, that the HEX filter matches file names in any
// case, as it does on Windows, and the folder it opens in.

#include "app/qt/PromptHost.h"
#include "target/TargetProfile.h"
#include "tests/app/DialogFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QListView>

#include <filesystem>
#include <string>
#include <vector>

namespace {

TEST(FileDialog, OpensInTheGivenFolderWhereItsHexFilterShowsNamesInAnyCase) {
    WorkingFolder elsewhere; // not where the files are
    TempFolder folder;
    for (const char* name : {"blink.hex", "BLINK.HEX", "Mixed.Hex", "notes.txt"}) {
        folder.Create(name, ":00000001FF\n");
    }
    std::unique_ptr<PromptHost> host = MakeBoxPrompts();
    bool answered = false;
    host->Show(nullptr,
               Prompt{PromptKind::OpenHexFile, {}, {}, {}, false, folder.Path().string() + "/"},
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
    EXPECT_EQ(dialog->directory(), QDir(QString::fromStdString(folder.Path().string())));
    EXPECT_TRUE(dialog->selectedFiles().isEmpty() ||
                QFileInfo(dialog->selectedFiles().front()).isDir())
        << "no file named";

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

// Each job's file dialog opens in the folder of the file chosen last in this run of the program,
// also when the job refused that file; the first opens where the toolkit likes.
class LastFolder : public DialogFixture {};

TEST_F(LastFolder, EachFileDialogOpensWhereTheLastFileWasChosen) {
    TempFolder other;
    const std::string corpus = TERVIX_HOSTILE_CORPUS "/";
    const std::string copy = other.File("two_per_line.hex");
    std::filesystem::copy_file(corpus + "two_per_line.hex", copy);
    OpenDialog();

    script.Answer(PromptKind::OpenHexFile, true,
                  QString::fromStdString(corpus + "two_per_line.hex"));
    RunJob();
    ASSERT_EQ(g_stage.load(), StageNoFile);
    script.Answer(PromptKind::OpenHexFile, true, QString::fromStdString(copy));
    RunJob();
    script.Answer(PromptKind::OpenHexFile, false);
    RunJob();

    std::vector<std::string> folders;
    for (const Prompt& p : script.Asked()) {
        if (p.kind == PromptKind::OpenHexFile) {
            folders.push_back(p.folder);
        }
    }
    EXPECT_EQ(folders, (std::vector<std::string>{"", corpus, other.Path().string() + "/"}));
}

} // namespace
