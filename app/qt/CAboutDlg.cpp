#include "app/qt/CAboutDlg.h"

#include "app/qt/DialogUnits.h"
#include "app/qt/Resources.h"
#include "app/qt/TemplateFont.h"
#include "ui_about.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CAboutDlg>()) {
    EnsureResources();
    ui_->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    ui_->iconLabel->setPixmap(QPixmap(QStringLiteral(":/icons/128")));
    connect(ui_->okButton, &QPushButton::clicked, this, &QDialog::accept);
    ApplyDialogUnits(this);
    ApplyTemplateFont(this, QFont::Normal);
}

CAboutDlg::~CAboutDlg() = default;
