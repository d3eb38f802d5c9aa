#include "console/Form_DistribAction.h"

#include <QFont>
#include <QPushButton>
#include <QRadioButton>

#include "platform/desktop/Controls.h"
#include "ui_Form_DistribAction.h"

Form_DistribAction::Form_DistribAction(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Form_DistribAction)
{
    ui->setupUi(this);
    setFixedSize(size());
    opt_Action = {ui->opt_Action_0, ui->opt_Action_1, ui->opt_Action_2};
    cmd_Action = {ui->cmd_Action_0, ui->cmd_Action_1};
    // The logic reads these code words, never the captions.
    setTag(ui->opt_Action_0, QStringLiteral("PRINT"));
    setTag(ui->opt_Action_1, QStringLiteral("HOLD"));
    setTag(ui->opt_Action_2, QStringLiteral("DELETE"));
    setTag(ui->cmd_Action_0, QStringLiteral("OK"));
    setTag(ui->cmd_Action_1, QStringLiteral("CLOSE"));
    for (int i = 0; i < int(cmd_Action.size()); ++i)
        connect(cmd_Action[size_t(i)], &QPushButton::clicked, this, [this, i] { cmd_Action_Click(i); });
}

Form_DistribAction::~Form_DistribAction()
{
    delete ui;
}

void Form_DistribAction::showEvent(QShowEvent *event)
{
    // Loads when first shown, after the caller has set sClient.
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
    QDialog::showEvent(event);
}

void Form_DistribAction::Form_Load()
{
    sAction.clear();
    if (!sClient.isEmpty()) {
        ui->lbl_Info->setFont(QFont(QStringLiteral("Arial"), 10, QFont::Bold));
        ui->lbl_Info->setText(QStringLiteral("CLIENT : ") + sClient);
    }
}

void Form_DistribAction::cmd_Action_Click(int index)
{
    const bool ok = tagOf(cmd_Action.at(size_t(index))) == QLatin1String("OK");
    if (ok) {
        for (QRadioButton *option : opt_Action) {
            if (option->isChecked()) {
                sAction = tagOf(option);
                break;
            }
        }
    }
    if (ok)
        accept();
    else
        reject();
}
